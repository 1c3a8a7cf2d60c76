#pragma once

#include "platform/async/RunSync.h"
#include "platform/async/Task.h"

#include <QString>

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

// The description of the error of type E that task failed with, or a text that says it did not
// fail so: one QCOMPARE checks both that it failed and how, and shows what happened instead.
template <typename E, typename T> QString failureText(async::Task<T> task) {
    const std::optional<E> error = failureOf<E>(std::move(task));
    return error ? error->description() : QStringLiteral("<did not fail with this error type>");
}
