#pragma once

#include "platform/async/Task.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <stop_token>

class AFCStreamHost;
class AFCStreamSource;

// A device file read chunk by chunk as its consumer asks. Each next() runs one read on the
// bridge's executor, and one further chunk is read ahead meanwhile, so at most two chunks are
// held however slow the consumer is. A consumer that stops early simply destroys the stream: the
// device file is closed in a job and nothing more is read. Main thread only; one next() at a time.
class AFCReadStream {
public:
    // Starts reading source through host (the bridge's inside). Made by AFCBridge::readStream.
    static AFCReadStream open(std::shared_ptr<AFCStreamHost> host, std::shared_ptr<AFCStreamSource> source);

    AFCReadStream(AFCReadStream&&) noexcept = default;
    AFCReadStream& operator=(AFCReadStream&&) noexcept;
    AFCReadStream(const AFCReadStream&) = delete;
    AFCReadStream& operator=(const AFCReadStream&) = delete;
    ~AFCReadStream();

    // The next chunk, nothing at the end of the file. Throws AFCError (the file could not be
    // opened or read, or its session is gone) and async::CancelledError; after either, the
    // stream is at its end.
    async::Task<std::optional<QByteArray>> next(std::stop_token token = {});

private:
    struct State;

    explicit AFCReadStream(std::shared_ptr<State> state);
    static async::Task<std::optional<QByteArray>> pull(std::shared_ptr<State> state, std::stop_token token);
    static void readAhead(State& state);
    void close();

    std::shared_ptr<State> m_state;
};
