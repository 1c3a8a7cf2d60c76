#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Writes chunks to a local file on a thread of its own, so that a download reads the next chunk
// from the device while the last one goes to disk. Two buffers take turns: the reader fills one
// while the other is written, so at most two chunks are held and the device still sees one
// request at a time. The first failed write stops all later ones.
//
// One writer serves every download of a bridge, one file after another: its thread and buffers
// are made once, so a folder of small files costs no thread start or buffer fill per file.
class LocalChunkWriter {
public:
    // Called on the writer's thread once a chunk is on disk, with the bytes of the file written so
    // far; before finish() or end() returns.
    using Written = std::function<void(quint64 total)>;

    explicit LocalChunkWriter(size_t chunkBytes);
    ~LocalChunkWriter();
    LocalChunkWriter(const LocalChunkWriter&) = delete;
    LocalChunkWriter& operator=(const LocalChunkWriter&) = delete;

    // Starts a file, whose descriptor setFile() gives before the first submit(): a chunk may be
    // read into acquire()'s buffer before the file exists.
    void begin(Written onWritten = {});
    // The descriptor stays the caller's; it must outlive end(). With synchronous, submit() writes
    // on the calling thread: for a file that ends within its first chunk there is no next read
    // to overlap, and handing the chunk to another thread would only add two thread wake-ups.
    void setFile(int fd, bool synchronous = false);
    // A buffer of chunkBytes to fill, once its previous write has finished; nullptr after a
    // failed write (see failure()).
    char* acquire();
    // Queues the first bytes of the buffer acquire() handed out.
    void submit(size_t bytes);
    // Waits until everything queued is written; false after a failed write.
    bool finish();
    // Ends the file: drops what was not written yet and waits for the write in progress, so the
    // descriptor may be closed. Safe to call twice.
    void end();
    // The errno of the first failed write of this file, 0 while none failed.
    int failure() const;

private:
    void run();
    // Writes all of it; 0 or the errno.
    static int writeAll(int fd, const char* data, size_t size);

    const size_t m_chunkBytes;
    std::unique_ptr<char[]> m_buffers[2];
    size_t m_sizes[2] = {0, 0};
    bool m_queued[2] = {false, false};
    int m_fd = -1;
    Written m_onWritten;
    quint64 m_total = 0;
    int m_next = 0;    // the buffer acquire() hands out next
    int m_writing = 0; // the buffer the thread writes next
    bool m_busy = false;
    bool m_synchronous = false;
    int m_error = 0;
    bool m_stopping = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};
