#pragma once

#include "platform/async/RunSync.h"
#include "platform/async/Task.h"

#include <optional>

// Runs task to its end and hands back the error of type E it failed with; nothing when it
// succeeded or failed with something else, so a test can QVERIFY the error and then compare it.
template <typename E, typename T> std::optional<E> failureOf(async::Task<T> task) {
    try {
        async::runSync(std::move(task));
    } catch (const E& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}
