#include "BlockWriter.h"

#include <cerrno>
#include <unistd.h>

namespace {

constexpr int64_t kSyncBytes = int64_t(4) << 20;

int writeAll(int descriptor, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        data += written;
        size -= size_t(written);
    }
    return 0;
}

} // namespace

BlockWriter::BlockWriter(int descriptor, int64_t offset, size_t blockBytes, int blockCount)
    : m_descriptor(descriptor), m_blocks(size_t(blockCount)), m_written(offset), m_synced(offset)
{
    for (Block& block : m_blocks) {
        block.bytes = std::make_unique<char[]>(blockBytes);
        block.capacity = blockBytes;
        m_free.push_back(&block);
    }
    m_thread = std::thread(&BlockWriter::run, this);
}

BlockWriter::~BlockWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queued.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

BlockWriter::Block* BlockWriter::take()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_free.empty() || m_error != 0 || m_stop; });
    if (m_error != 0 || m_stop)
        return nullptr;
    Block* block = m_free.front();
    m_free.pop_front();
    block->size = 0;
    return block;
}

void BlockWriter::queue(Block* block)
{
    {
        const std::lock_guard lock(m_mutex);
        if (block->size == 0 || m_error != 0 || m_stop)
            m_free.push_back(block);
        else
            m_queued.push_back(block);
    }
    m_changed.notify_all();
}

int BlockWriter::finish()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return (m_queued.empty() && !m_writing) || m_error != 0; });
    m_stop = true;
    m_queued.clear();
    lock.unlock();
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    return m_error;
}

void BlockWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queued.empty() || m_stop; });
        if (m_stop)
            return;
        Block* block = m_queued.front();
        m_queued.pop_front();
        m_writing = true;
        lock.unlock();
        int error = writeAll(m_descriptor, block->bytes.get(), block->size);
        if (error == 0) {
            m_written += int64_t(block->size);
            if (m_written - m_synced >= kSyncBytes) {
                // A failure here is a failure of the file: the kernel reports a failed
                // writeback to one sync only, so the final one would not see it again.
                if (::fdatasync(m_descriptor) != 0)
                    error = errno;
                m_synced = m_written;
            }
        }
        lock.lock();
        m_writing = false;
        m_free.push_back(block);
        if (error != 0) {
            m_error = error;
            m_queued.clear();
        }
        m_changed.notify_all();
        if (error != 0)
            return;
    }
}
