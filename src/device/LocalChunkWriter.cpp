#include "device/LocalChunkWriter.h"

#include <cerrno>
#include <unistd.h>

LocalChunkWriter::LocalChunkWriter(int fd, size_t chunkBytes) : m_fd(fd), m_chunkBytes(chunkBytes) {
    m_buffers[0] = std::make_unique<char[]>(chunkBytes);
    m_buffers[1] = std::make_unique<char[]>(chunkBytes);
    m_thread = std::thread([this] { run(); });
}

LocalChunkWriter::~LocalChunkWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

char* LocalChunkWriter::acquire() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_error != 0 || !m_queued[m_next]; });
    return m_error != 0 ? nullptr : m_buffers[m_next].get();
}

void LocalChunkWriter::submit(size_t bytes) {
    {
        std::lock_guard lock(m_mutex);
        m_sizes[m_next] = bytes;
        m_queued[m_next] = true;
        m_next ^= 1;
    }
    m_changed.notify_all();
}

bool LocalChunkWriter::finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_error != 0 || (!m_queued[0] && !m_queued[1]); });
    return m_error == 0;
}

int LocalChunkWriter::failure() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void LocalChunkWriter::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || (m_error == 0 && m_queued[m_writing]); });
        if (m_stopping)
            return;
        const char* data = m_buffers[m_writing].get();
        const size_t size = m_sizes[m_writing];
        lock.unlock();
        int error = 0;
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // A write that stores nothing without an errno would repeat forever.
                error = n < 0 ? errno : EIO;
                break;
            }
            done += static_cast<size_t>(n);
        }
        lock.lock();
        m_queued[m_writing] = false;
        m_writing ^= 1;
        if (error != 0)
            m_error = error;
        m_changed.notify_all();
    }
}
