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
// the page cache and starting their writeback overlap the work that fills the next ones.
// A few blocks go round: the filling thread takes a free one, fills it and queues it; the
// writer writes it and gives it back. Writeback of every few megabytes is started as they
// are written, so that the sync that makes the file durable waits for little. The first
// failed write ends the writing: no block is taken after it, and finish() returns it.
// Whoever owns the descriptor keeps it open while the writer lives; the writer does not
// sync it.
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

    // An empty block to fill, waiting while every block is queued; null once a write failed.
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
    int64_t m_written;       // the file's end as written so far (writer thread)
    int64_t m_writebackFrom; // the first byte whose writeback has not been started
    int m_error = 0;
    bool m_writing = false;  // a block is being written
    bool m_stop = false;
    std::thread m_thread;
};
