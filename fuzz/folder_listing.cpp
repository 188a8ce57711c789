// A folder's listing as the index file gives it back: the bytes are one column of it, read
// as names and as stamped names. What is read holds only names a folder can hold, and
// written again it reads back the same.
#include "FuzzSupport.h"
#include "library/FolderListingCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto sound = [](const QByteArray& name) {
        return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
    };

    QList<QByteArray> names;
    if (SplitNames(bytes, names)) {
        for (const QByteArray& name : std::as_const(names))
            FUZZ_CHECK(sound(name));
        QList<QByteArray> again;
        FUZZ_CHECK(SplitNames(JoinNames(names), again) && again == names);
    } else {
        FUZZ_CHECK(names.isEmpty());
    }

    StampedNames stamped;
    if (UnpackStampedNames(bytes, stamped)) {
        for (const auto& entry : std::as_const(stamped))
            FUZZ_CHECK(sound(entry.first));
        FUZZ_CHECK(PackStampedNames(stamped) == bytes);
    } else {
        FUZZ_CHECK(stamped.isEmpty());
    }
    return 0;
}
