#include "device/AFCReadStream.h"

#include "device/AFCError.h"
#include "device/AFCStreamHost.h"
#include "device/AFCStreamSource.h"
#include "platform/async/Cancellation.h"

struct AFCReadStream::State {
    std::weak_ptr<AFCStreamHost> host;
    std::shared_ptr<AFCStreamSource> source;
    // The chunk being read ahead; at most one, so memory stays bounded.
    std::optional<async::Task<std::optional<QByteArray>>> pending;
    bool ended = false;
};

AFCReadStream::AFCReadStream(std::shared_ptr<State> state) : m_state(std::move(state)) {}

AFCReadStream AFCReadStream::open(std::shared_ptr<AFCStreamHost> host,
                                  std::shared_ptr<AFCStreamSource> source) {
    auto state = std::make_shared<State>();
    state->host = host;
    state->source = std::move(source);
    readAhead(*state);
    return AFCReadStream(std::move(state));
}

AFCReadStream& AFCReadStream::operator=(AFCReadStream&& other) noexcept {
    if (this != &other) {
        close();
        m_state = std::move(other.m_state);
    }
    return *this;
}

AFCReadStream::~AFCReadStream() {
    close();
}

async::Task<std::optional<QByteArray>> AFCReadStream::next(std::stop_token token) {
    return pull(m_state, std::move(token));
}

void AFCReadStream::readAhead(State& state) {
    if (state.ended || state.pending)
        return;
    if (const std::shared_ptr<AFCStreamHost> host = state.host.lock())
        state.pending.emplace(host->readChunk(state.source));
}

async::Task<std::optional<QByteArray>> AFCReadStream::pull(std::shared_ptr<State> state,
                                                           std::stop_token token) {
    if (!state || state->ended)
        co_return std::nullopt;
    if (token.stop_requested()) {
        state->ended = true;
        throw async::CancelledError{};
    }
    readAhead(*state);
    if (!state->pending) {
        // The bridge is gone, and its sessions with it.
        state->ended = true;
        throw AFCError::notConnected(state->source->key());
    }
    async::Task<std::optional<QByteArray>> read = std::move(*state->pending);
    state->pending.reset();

    std::optional<QByteArray> chunk;
    try {
        chunk = co_await read;
    } catch (...) {
        state->ended = true;
        throw;
    }
    if (!chunk) {
        state->ended = true;
        co_return std::nullopt;
    }
    if (token.stop_requested()) {
        state->ended = true;
        throw async::CancelledError{};
    }
    readAhead(*state);
    co_return chunk;
}

void AFCReadStream::close() {
    if (!m_state)
        return;
    State& state = *m_state;
    state.ended = true;
    // Queued behind the read in flight, if any, so nothing is read after this.
    if (const std::shared_ptr<AFCStreamHost> host = state.host.lock())
        host->closeStream(state.source);
    m_state.reset();
}
