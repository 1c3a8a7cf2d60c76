#include "device/AFCReadStream.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCStreamSource.h"
#include "platform/async/Cancellation.h"

struct AFCReadStream::State {
    AFCBridge* bridge = nullptr;
    std::weak_ptr<const bool> alive;
    std::shared_ptr<AFCStreamSource> source;
    // The chunk being read ahead; at most one, so memory stays bounded.
    std::optional<async::Task<std::optional<QByteArray>>> pending;
    bool ended = false;
};

AFCReadStream::AFCReadStream(std::shared_ptr<State> state) : m_state(std::move(state)) {}

AFCReadStream AFCReadStream::open(AFCBridge& bridge, std::shared_ptr<AFCStreamSource> source) {
    auto state = std::make_shared<State>();
    state->bridge = &bridge;
    state->alive = bridge.m_alive;
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
    if (state.ended || state.pending || state.alive.expired())
        return;
    std::shared_ptr<AFCStreamSource> source = state.source;
    state.pending.emplace(
        state.bridge->perform([source](AFCSessionTable& sessions) { return source->readNext(sessions); }));
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
    if (!state.alive.expired()) {
        // Queued behind the read in flight, if any, so nothing is read after this.
        std::shared_ptr<AFCStreamSource> source = state.source;
        state.bridge->m_executor->post(
            [sessions = &state.bridge->m_sessions, source] { source->close(*sessions); });
    }
    m_state.reset();
}
