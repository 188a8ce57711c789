// Filling the recording list with 9,999 records and sorting it by each key in
// both directions, beside a plain std::sort of the same rows' texts by the same
// order. Texts sort by their CP932 bytes: the reference sorts those bytes,
// converted before it is timed, as a sort that had them for free would, while
// converting is part of our figure. Size and index sort their texts by number.
// Goal: each of our sorts within 3 times its reference, the memo within 2 times.
// A sort right after a fill works out the column's keys; a later sort by the
// same column (BM_SortAgain) reuses them until the rows change.
//
// Before the timings, the memory a listed row costs: the heap the scan's records
// and the list's rows hold together, per row, beside the size of the record's own
// fields (the record and the characters of its name and path); and what is left
// once the list is emptied. Goal: under 1 KB a row, all of it given back.
#include "RatioReporter.h"
#include "RecordingBuilder.h"
#include "recording/RecordingColumns.h"
#include "view/RecordingListModel.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <random>

namespace {

constexpr int kRecords = 9999;

QList<tagFileList> makeRecords()
{
    std::mt19937 random(7);
    const QStringList memos = {QStringLiteral("定例会議"), QStringLiteral("打ち合わせ"), QString(), QStringLiteral("電話メモ"),
                               QStringLiteral("講義ノート"), QStringLiteral("アイデア")};
    QList<tagFileList> records;
    for (int i = 0; i < kRecords; ++i) {
        QList<uint32_t> marks;
        for (uint32_t m = 0; m < random() % 6; ++m)
            marks.append(m * 7 + 1);
        tagFileList r;
        r.szFileName = QStringLiteral("REC%1.MP3").arg(random() % 100000, 5, 10, QLatin1Char('0'));
        r.szFilePath = QStringLiteral("/save/001/") + r.szFileName;
        r.tmCreate = 1700000000 + int64_t(random() % 30000000);
        r.nDuration = random() % 7200;
        r.nFileSize = random() % 50000000;
        r.header = MakeVoiceHeader(uint8_t(random() % 3), memos[int(random() % memos.size())] + QString::number(i % 97), marks);
        r.header.protectFlag = random() % 4 == 0;
        r.header.playedFlag = random() % 2 ? 2 : 0;
        r.header.transferredFlag = random() % 3 == 0;
        records.append(r);
    }
    return records;
}

const QList<tagFileList>& records()
{
    static const QList<tagFileList> all = makeRecords();
    return all;
}

void BM_FillList(benchmark::State& state)
{
    RecordingListModel model;
    for (auto _ : state)
        model.setRecords(records());
}

void BM_SortList(benchmark::State& state)
{
    const int key = int(state.range(0));
    const bool descending = state.range(1) != 0;
    RecordingListModel model;
    for (auto _ : state) {
        state.PauseTiming();
        model.setRecords(records());
        state.ResumeTiming();
        model.sortByKey(key, descending);
    }
}

void BM_SortAgain(benchmark::State& state)
{
    const int key = int(state.range(0));
    const bool descending = state.range(1) != 0;
    RecordingListModel model;
    model.setRecords(records());
    model.sortByKey(key, descending);
    for (auto _ : state)
        model.sortByKey(key, descending);
}

void BM_ReferenceSort(benchmark::State& state)
{
    const int key = int(state.range(0));
    const bool descending = state.range(1) != 0;
    std::vector<QString> texts;
    for (const tagFileList& record : records())
        texts.push_back(RecordRowText(record, key));
    if (IsNumericSortKey(key)) {
        for (auto _ : state) {
            state.PauseTiming();
            std::vector<QString> copy = texts;
            state.ResumeTiming();
            std::sort(copy.begin(), copy.end(), [&](const QString& a, const QString& b) {
                return descending ? CompareRowTexts(key, b, a) < 0 : CompareRowTexts(key, a, b) < 0;
            });
            benchmark::DoNotOptimize(copy.data());
        }
        return;
    }
    std::vector<TextSortKey> keys;
    for (const QString& text : texts)
        keys.push_back(MakeTextSortKey(text));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<TextSortKey> copy = keys;
        state.ResumeTiming();
        std::sort(copy.begin(), copy.end(), [&](const TextSortKey& a, const TextSortKey& b) {
            return descending ? CompareTextSortKeys(b, a) < 0 : CompareTextSortKeys(a, b) < 0;
        });
        benchmark::DoNotOptimize(copy.data());
    }
}

void sortArguments(benchmark::internal::Benchmark* benchmark)
{
    for (int key = 0; key < kColumnKeys; ++key)
        for (int descending = 0; descending < 2; ++descending)
            benchmark->Args({key, descending});
}

size_t heapInUse()
{
    const struct mallinfo2 figures = mallinfo2();
    return figures.uordblks + figures.hblkhd;
}

void reportMemoryPerRow()
{
    const size_t before = heapInUse();
    // The records as a scan lists them (made here, so that they count), and the rows.
    QList<tagFileList> listed = makeRecords();
    listed.squeeze(); // as a scan leaves its list
    size_t ownBytes = 0;
    for (const tagFileList& record : listed)
        ownBytes += sizeof record + size_t(record.szFileName.size() + record.szFilePath.size()) * sizeof(QChar);
    auto model = std::make_unique<RecordingListModel>();
    model->setRecords(listed);
    model->sortByKey(kKeyMemo, false);
    const size_t filled = heapInUse();
    model->setRecords({});
    listed = {};
    const size_t emptied = heapInUse();
    model.reset();
    std::printf("Listed rows: %.0f bytes a row; the record's own fields: %.0f bytes a row; ratio %.2fx; "
                "left after emptying the list: %lld bytes\n",
                double(filled - before) / kRecords, double(ownBytes) / kRecords,
                double(filled - before) / double(ownBytes), static_cast<long long>(emptied) - static_cast<long long>(before));
}

} // namespace

BENCHMARK(BM_FillList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortList)->Apply(sortArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortAgain)->Apply(sortArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceSort)->Apply(sortArguments)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    reportMemoryPerRow();
    records();
    std::vector<Comparison> comparisons;
    for (int key = 0; key < kColumnKeys; ++key)
        for (int descending = 0; descending < 2; ++descending) {
            const std::string args = "/" + std::to_string(key) + "/" + std::to_string(descending);
            comparisons.push_back({"BM_SortList" + args, "BM_ReferenceSort" + args});
            comparisons.push_back({"BM_SortAgain" + args, "BM_ReferenceSort" + args});
        }
    RunComparing(&argc, argv, comparisons);
    return 0;
}
