#include "device/LocalChunkReader.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

LocalChunkReader::LocalChunkReader(size_t chunkBytes) : m_chunkBytes(chunkBytes) {}

LocalChunkReader::~LocalChunkReader() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void LocalChunkReader::begin(int fd, bool synchronous, std::optional<quint64> limit) {
    if (!m_thread.joinable()) {
        // Not zero-filled: only the bytes a read stored are ever handed out.
        m_buffers[0] = std::make_unique_for_overwrite<char[]>(m_chunkBytes);
        m_buffers[1] = std::make_unique_for_overwrite<char[]>(m_chunkBytes);
        m_thread = std::thread([this] { run(); });
    }
    {
        std::lock_guard lock(m_mutex);
        m_fd = fd;
        m_slots[0] = m_slots[1] = Slot::free;
        m_fill = m_take = 0;
        m_held = -1;
        m_error = 0;
        m_left = limit;
        m_synchronous = synchronous;
        m_active = !synchronous;
    }
    // A file read on the caller's thread leaves the reading thread asleep: waking it for nothing
    // costs each small file of a folder a switch between threads.
    if (!synchronous)
        m_changed.notify_all();
}

bool LocalChunkReader::next(Chunk& chunk) {
    if (m_synchronous) {
        // The thread is idle in this mode: only the caller's thread touches the buffer and file.
        const ssize_t got = readInto(m_fd, m_buffers[0].get());
        if (got < 0) {
            std::lock_guard lock(m_mutex);
            m_error = static_cast<int>(-got);
            return false;
        }
        chunk = Chunk{m_buffers[0].get(), static_cast<size_t>(got)};
        return true;
    }
    std::unique_lock lock(m_mutex);
    if (m_held >= 0) {
        m_slots[m_held] = Slot::free;
        m_held = -1;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [this] { return m_error != 0 || m_slots[m_take] == Slot::filled; });
    if (m_error != 0)
        return false;
    m_slots[m_take] = Slot::held;
    m_held = m_take;
    chunk = Chunk{m_buffers[m_take].get(), m_sizes[m_take]};
    m_take ^= 1;
    return true;
}

void LocalChunkReader::end() {
    std::unique_lock lock(m_mutex);
    m_active = false;
    m_changed.wait(lock, [this] { return !m_busy; });
    m_fd = -1;
    m_synchronous = false;
}

int LocalChunkReader::failure() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void LocalChunkReader::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || (m_active && m_slots[m_fill] == Slot::free); });
        if (m_stopping)
            return;
        const int slot = m_fill;
        const int fd = m_fd;
        char* buffer = m_buffers[slot].get();
        m_busy = true;
        lock.unlock();
        const ssize_t got = readInto(fd, buffer);
        const int error = got < 0 ? static_cast<int>(-got) : 0;
        lock.lock();
        m_busy = false;
        if (error != 0) {
            m_error = error;
            m_active = false;
        } else {
            m_sizes[slot] = static_cast<size_t>(got);
            m_slots[slot] = Slot::filled;
            m_fill = slot ^ 1;
            // The end of the file: nothing more to read.
            if (got == 0)
                m_active = false;
        }
        m_changed.notify_all();
    }
}

ssize_t LocalChunkReader::readInto(int fd, char* buffer) {
    const size_t wanted = m_left ? size_t(std::min<quint64>(m_chunkBytes, *m_left)) : m_chunkBytes;
    if (wanted == 0)
        return 0;
    ssize_t got = 0;
    do {
        got = ::read(fd, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return -errno;
    if (m_left)
        *m_left -= quint64(got);
    return got;
}
