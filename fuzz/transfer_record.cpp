// The transfer record as the program finds it: the bytes are the record file. Every
// entry read is used as the record's window shows it; an entry appended afterwards is
// read back whole, whatever the file held before it.
#include "FuzzSupport.h"
#include "export/TransferRecord.h"
#include "platform/ProgramIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("XDG_DATA_HOME", FuzzScratchFolder().toUtf8());
    QCoreApplication::setOrganizationName(kCompanyName);
    QCoreApplication::setApplicationName(kProgramTitle);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = TransferRecord::FilePath();
    static const bool folderMade = QDir().mkpath(QFileInfo(path).absolutePath());
    FUZZ_CHECK(folderMade && path.startsWith(FuzzScratchFolder()));
    WriteFuzzFile(QDir(FuzzScratchFolder()).relativeFilePath(path), data, size);
    const QList<TransferRecordEntry> before = TransferRecord::ReadAll();
    for (qsizetype i = 0; i < before.size(); ++i) {
        const TransferRecordEntry& entry = before[i];
        FUZZ_CHECK(entry.time.isValid() && !entry.destination.isEmpty());
        FUZZ_CHECK(i == 0 || before[i - 1].time >= entry.time);
        entry.time.toString(Qt::ISODate);
    }

    TransferRecordEntry added;
    added.time = QDateTime::fromSecsSinceEpoch(2000000000);
    added.recorderNumber = 7;
    added.source = QStringLiteral("/media/card/REC0001.MP3");
    added.destination = QStringLiteral("/save/REC0001.MP3");
    added.size = 123456;
    added.verified = true;
    FUZZ_CHECK(TransferRecord::Append({added}));
    const QList<TransferRecordEntry> after = TransferRecord::ReadAll();
    FUZZ_CHECK(after.size() == before.size() + 1);
    bool found = false;
    for (const TransferRecordEntry& entry : after) {
        found = found
                || (entry.time == added.time && entry.recorderNumber == 7 && entry.source == added.source
                    && entry.destination == added.destination && entry.size == added.size && entry.verified
                    && !entry.marked);
    }
    FUZZ_CHECK(found);
    return 0;
}
