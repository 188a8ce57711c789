/* The least a program can do for what talven77-tool's search and scan do, as a process of
 * its own for tool_bench:
 *   floor stat ROOT   walks ROOT and its subfolders and stats each file once;
 *   floor read ROOT   the same with stat + open + read of 4 KiB + close per file.
 * Prints the number of files, so that the caller sees the walk met them all. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long walk(int parent, const char* name, int readFiles)
{
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return 0;
    }
    long files = 0;
    char buffer[4096];
    const struct dirent* entry;
    while ((entry = readdir(dir))) {
        if (entry->d_name[0] == '.')
            continue;
        if (entry->d_type == DT_DIR) {
            files += walk(fd, entry->d_name, readFiles);
            continue;
        }
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (readFiles) {
            const int file = openat(fd, entry->d_name, O_RDONLY | O_CLOEXEC);
            if (file < 0)
                continue;
            if (read(file, buffer, sizeof buffer) < 0) {
                close(file);
                continue;
            }
            close(file);
        }
        ++files;
    }
    closedir(dir);
    return files;
}

int main(int argc, char** argv)
{
    if (argc != 3 || (strcmp(argv[1], "stat") != 0 && strcmp(argv[1], "read") != 0)) {
        fputs("usage: floor stat|read ROOT\n", stderr);
        return 2;
    }
    printf("%ld\n", walk(AT_FDCWD, argv[2], strcmp(argv[1], "read") == 0));
    return 0;
}
