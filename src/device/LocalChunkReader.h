#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Reads a local file ahead on a thread of its own, so that an upload reads the next chunk from
// disk while the last one goes to the device. Two buffers take turns: the consumer holds one
// while the other is filled, so at most two chunks are held. The first failed read ends the
// reading.
//
// One reader serves every upload of a bridge, one file after another: its thread and buffers are
// made once, so a folder of small files costs no thread start or buffer fill per file.
class LocalChunkReader {
public:
    struct Chunk {
        const char* data = nullptr;
        size_t size = 0; // 0 at the end of the file
    };

    explicit LocalChunkReader(size_t chunkBytes);
    ~LocalChunkReader();
    LocalChunkReader(const LocalChunkReader&) = delete;
    LocalChunkReader& operator=(const LocalChunkReader&) = delete;

    // Starts reading a file. The descriptor stays the caller's; it must outlive end(). With
    // synchronous, next() reads on the calling thread and nothing is read ahead: for a file of
    // one chunk there is nothing to overlap, and another thread would only add wake-ups. With a
    // limit no byte beyond it is read: the chunk after the limit's bytes is the end (size 0),
    // however much more the file holds.
    void begin(int fd, bool synchronous = false, std::optional<quint64> limit = std::nullopt);
    // The next chunk, in file order; its data stays valid until the next call. false when a read
    // failed (see failure()).
    bool next(Chunk& chunk);
    // Ends the file: stops reading ahead and waits for the read in progress, so the descriptor may
    // be closed. Safe to call twice.
    void end();

    // The errno of the failed read, 0 while none failed.
    int failure() const;

private:
    enum class Slot { free, filled, held };

    void run();
    // One read into a buffer of at most the bytes left before the limit; its size, or -errno.
    ssize_t readInto(int fd, char* buffer);

    const size_t m_chunkBytes;
    std::unique_ptr<char[]> m_buffers[2];
    size_t m_sizes[2] = {0, 0};
    Slot m_slots[2] = {Slot::free, Slot::free};
    int m_fd = -1;
    int m_fill = 0; // the buffer the thread fills next
    int m_take = 0; // the buffer next() hands out next
    int m_held = -1;
    int m_error = 0;
    // Bytes that may still be read of this file; unset without a limit. Touched only by the
    // thread that reads (the caller's in synchronous mode, else the reading thread).
    std::optional<quint64> m_left;
    bool m_active = false; // a file is being read ahead and its end was not reached
    bool m_synchronous = false;
    bool m_busy = false;
    bool m_stopping = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};
