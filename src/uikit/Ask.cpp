// The dialog's answer, its destruction and a stop request race to end the question; all three
// act on the main thread, and the first one decides.

#include "uikit/Ask.h"

#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "uikit/ModalStack.h"

#include <QDialog>
#include <QPointer>

#include <exception>
#include <functional>
#include <optional>

namespace async {

namespace {

// Disconnects when the question ends, however it ends, so a dialog asked again later does not
// carry the old question's handlers.
struct ScopedConnection {
    QMetaObject::Connection connection;
    ~ScopedConnection() { QObject::disconnect(connection); }
};

} // namespace

Task<int> ask(QDialog* dialog, std::stop_token token) {
    throwIfCancelled(token);
    QPointer<QDialog> guarded(dialog);
    std::optional<std::stop_callback<std::function<void()>>> onStop;
    ScopedConnection finished;
    ScopedConnection destroyed;

    // Every resume below happens on the main thread, so "not yet resumed" cannot change
    // between the test and the resume.
    auto start = [&](Continuation<int> continuation) {
        finished.connection =
            QObject::connect(dialog, &QDialog::finished, dialog, [continuation](int result) {
                if (!continuation.isResumed()) {
                    continuation.resume(result);
                }
            });
        destroyed.connection = QObject::connect(dialog, &QObject::destroyed, [continuation] {
            if (!continuation.isResumed()) {
                continuation.resumeThrowing(CancelledError{});
            }
        });
        std::function<void()> stop = [guarded, continuation] {
            postToMain([guarded, continuation] {
                if (continuation.isResumed()) {
                    return;
                }
                continuation.resumeThrowing(CancelledError{});
                if (guarded) {
                    guarded->reject();
                }
            });
        };
        onStop.emplace(token, std::move(stop));
        dialog->open();
    };
    int result = QDialog::Rejected;
    std::exception_ptr failure;
    try {
        result = co_await withContinuation<int>(start);
    } catch (...) {
        failure = std::current_exception();
    }
    // However the question ended, the dialog is closed (a withdrawn alert may ignore reject()), and
    // what it was asked over gets the keyboard back: the window, or the dialog still open over it.
    if (guarded) {
        guarded->hide();
        ModalStack::handBack(guarded);
    }
    if (failure)
        std::rethrow_exception(failure);
    co_return result;
}

} // namespace async
