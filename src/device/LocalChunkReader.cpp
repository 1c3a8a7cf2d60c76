#include "device/LocalChunkReader.h"

#include <cerrno>
#include <unistd.h>

LocalChunkReader::LocalChunkReader(int fd, size_t chunkBytes) : m_fd(fd), m_chunkBytes(chunkBytes) {
    m_buffers[0] = std::make_unique<char[]>(chunkBytes);
    m_buffers[1] = std::make_unique<char[]>(chunkBytes);
    m_thread = std::thread([this] { run(); });
}

LocalChunkReader::~LocalChunkReader() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool LocalChunkReader::next(Chunk& chunk) {
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

int LocalChunkReader::failure() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void LocalChunkReader::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_slots[m_fill] == Slot::free; });
        if (m_stopping)
            return;
        char* buffer = m_buffers[m_fill].get();
        lock.unlock();
        ssize_t got = 0;
        do {
            got = ::read(m_fd, buffer, m_chunkBytes);
        } while (got < 0 && errno == EINTR);
        const int error = got < 0 ? errno : 0;
        lock.lock();
        if (error != 0) {
            m_error = error;
            m_changed.notify_all();
            return;
        }
        m_sizes[m_fill] = static_cast<size_t>(got);
        m_slots[m_fill] = Slot::filled;
        m_fill ^= 1;
        m_changed.notify_all();
        if (got == 0)
            return; // the end of the file: nothing more to read
    }
}
