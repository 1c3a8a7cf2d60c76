#include "device/LocalChunkWriter.h"

#include <cerrno>
#include <unistd.h>

LocalChunkWriter::LocalChunkWriter(size_t chunkBytes) : m_chunkBytes(chunkBytes) {}

LocalChunkWriter::~LocalChunkWriter() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void LocalChunkWriter::begin(Written onWritten) {
    if (!m_thread.joinable()) {
        // Not zero-filled: every byte handed out is overwritten by a device read first.
        m_buffers[0] = std::make_unique_for_overwrite<char[]>(m_chunkBytes);
        m_buffers[1] = std::make_unique_for_overwrite<char[]>(m_chunkBytes);
        m_thread = std::thread([this] { run(); });
    }
    std::lock_guard lock(m_mutex);
    m_fd = -1;
    m_synchronous = false;
    m_onWritten = std::move(onWritten);
    m_total = 0;
    m_queued[0] = m_queued[1] = false;
    m_next = m_writing = 0;
    m_error = 0;
}

void LocalChunkWriter::setFile(int fd, bool synchronous) {
    std::lock_guard lock(m_mutex);
    m_fd = fd;
    m_synchronous = synchronous;
}

char* LocalChunkWriter::acquire() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_error != 0 || !m_queued[m_next]; });
    return m_error != 0 ? nullptr : m_buffers[m_next].get();
}

void LocalChunkWriter::submit(size_t bytes) {
    if (m_synchronous) {
        // Only the caller's thread touches the file in this mode; the thread has nothing queued.
        const int error = writeAll(m_fd, m_buffers[m_next].get(), bytes);
        std::lock_guard lock(m_mutex);
        if (error != 0) {
            m_error = error;
            return;
        }
        if (m_onWritten)
            m_onWritten(m_total + bytes);
        m_total += bytes;
        return;
    }
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

void LocalChunkWriter::end() {
    std::unique_lock lock(m_mutex);
    m_queued[0] = m_queued[1] = false;
    m_changed.wait(lock, [this] { return !m_busy; });
    m_fd = -1;
    m_synchronous = false;
    m_onWritten = nullptr;
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
        const int slot = m_writing;
        const int fd = m_fd;
        const char* data = m_buffers[slot].get();
        const size_t size = m_sizes[slot];
        m_busy = true;
        lock.unlock();
        const int error = writeAll(fd, data, size);
        // Reported while still busy, so that every report has been made when finish() returns.
        if (error == 0 && m_onWritten)
            m_onWritten(m_total + size);
        lock.lock();
        m_busy = false;
        if (error == 0)
            m_total += size;
        else
            m_error = error;
        m_queued[slot] = false;
        m_writing = slot ^ 1;
        m_changed.notify_all();
    }
}

int LocalChunkWriter::writeAll(int fd, const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        // A write that stores nothing without an errno would repeat forever.
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}
