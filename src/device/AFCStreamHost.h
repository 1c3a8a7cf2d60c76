#pragma once

#include "platform/async/Task.h"

#include <QByteArray>

#include <memory>
#include <optional>

class AFCStreamSource;

// What a read stream needs of the bridge that made it: to run its reads, one at a time, where the
// bridge runs every device call, and to close its file there. The stream holds it weakly, so a
// stream that outlives its bridge finds it gone instead of calling into freed state.
class AFCStreamHost {
public:
    // Reads the source's next chunk in a job; nothing at the end of the file.
    virtual async::Task<std::optional<QByteArray>> readChunk(std::shared_ptr<AFCStreamSource> source) = 0;
    // Queues the closing of the source's file behind the job in flight, if any.
    virtual void closeStream(std::shared_ptr<AFCStreamSource> source) = 0;

protected:
    ~AFCStreamHost() = default;
};
