#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

// Writes chunks to a local file on a thread of its own, so that a download reads the next chunk
// from the device while the last one goes to disk. Two buffers take turns: the reader fills one
// while the other is written, so at most two chunks are held and the device still sees one
// request at a time. The first failed write stops all later ones.
class LocalChunkWriter {
public:
    LocalChunkWriter(int fd, size_t chunkBytes);
    // Abandons what was not written yet and joins the thread; the file descriptor stays open.
    ~LocalChunkWriter();
    LocalChunkWriter(const LocalChunkWriter&) = delete;
    LocalChunkWriter& operator=(const LocalChunkWriter&) = delete;

    // A buffer of chunkBytes to fill, once its previous write has finished; nullptr after a
    // failed write (see failure()).
    char* acquire();
    // Queues the first bytes of the buffer acquire() handed out.
    void submit(size_t bytes);
    // Waits until everything queued is written; false after a failed write.
    bool finish();
    // The errno of the first failed write, 0 while none failed.
    int failure() const;

private:
    void run();

    const int m_fd;
    const size_t m_chunkBytes;
    std::unique_ptr<char[]> m_buffers[2];
    size_t m_sizes[2] = {0, 0};
    bool m_queued[2] = {false, false};
    int m_next = 0;    // the buffer acquire() hands out next
    int m_writing = 0; // the buffer the thread writes next
    int m_error = 0;
    bool m_stopping = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};
