#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Writes blocks to the end of a file on a thread of its own, so that copying them into
// the page cache and syncing them overlap the work that fills the next ones.
// A few blocks go round: the filling thread takes a free one, fills it and queues it; the
// writer writes it and gives it back. Every few megabytes are synced (fdatasync) as they
// are written: the sync that makes the whole file durable then has little left to wait
// for, and the page cache does not fill up with the file. The first failed write or sync
// ends the writing: no block is taken after it, and finish() returns its errno.
// Whoever owns the descriptor keeps it open while the writer lives and syncs the file
// once more at the end.
class BlockWriter
{
public:
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        size_t capacity = 0;
        size_t size = 0; // bytes filled
    };

    // offset: where the descriptor's file position stands, the start of the first block.
    BlockWriter(int descriptor, int64_t offset, size_t blockBytes, int blockCount);
    // Stops the writer without writing what is still queued.
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // An empty block to fill, waiting while every block is queued; null once writing failed.
    Block* take();
    // Queues a block taken before (an empty one is given back as it is).
    void queue(Block* block);
    // Waits until every queued block is written; the errno of the first failure, 0 when
    // none. The writer then stops; nothing is taken or queued after it.
    int finish();

private:
    void run();

    const int m_descriptor;
    std::vector<Block> m_blocks;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block*> m_free;
    std::deque<Block*> m_queued;
    int64_t m_written; // the file's end as written so far (writer thread)
    int64_t m_synced;  // the file's end at the last sync (writer thread)
    int m_error = 0;
    bool m_writing = false; // a block is being written
    bool m_stop = false;
    std::thread m_thread;
};
