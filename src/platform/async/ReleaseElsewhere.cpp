#include "platform/async/ReleaseElsewhere.h"

#include "platform/async/SerialExecutor.h"

void async::detail::postRelease(std::function<void()> job) {
    // Never destroyed: data may be let go while the program ends, after every static of ours.
    static auto* releaser = new SerialExecutor(QStringLiteral("Release"));
    releaser->post(std::move(job));
}
