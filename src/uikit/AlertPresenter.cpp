#include "uikit/AlertPresenter.h"

#include "platform/async/Outcome.h"
#include "uikit/AlertDialog.h"
#include "uikit/Ask.h"
#include "uikit/ModalStack.h"

#include <QPointer>

async::Task<AlertResponse> DialogAlertPresenter::ask(AlertRequest request, QWidget* parent,
                                                     std::stop_token token) {
    // Over the topmost dialog already open over the window, so that it shows above that one (a
    // window manager keeps a new window under a modal one of the same window unless it is
    // transient for it) and that one waits for it. Owned by what it is asked over as well, which
    // may go first: the guard tells whether it is still there.
    QWidget* over = parent ? ModalStack::top(parent) : nullptr;
    QPointer<AlertDialog> dialog = new AlertDialog(request, over);
    async::Task<int> asking = async::ask(dialog.data(), token);
    async::detail::Outcome<int> answer = co_await async::detail::settle(std::move(asking));
    AlertResponse response;
    if (dialog) {
        if (!answer.error())
            response = dialog->response(answer.get());
        dialog->hide();
        dialog->deleteLater();
    }
    if (answer.error())
        std::rethrow_exception(answer.error());
    co_return response;
}

AlertRequest warningAlert(const QString& message, const QString& informative) {
    AlertRequest request;
    request.style = AlertRequest::Style::warning;
    request.message = message;
    request.informative = informative;
    request.buttons = QStringList{QStringLiteral("OK")};
    return request;
}

namespace {

async::Task<void> presentOver(std::shared_ptr<AlertPresenter> presenter, QPointer<QWidget> window,
                              AlertRequest request, std::stop_token token) {
    if (!window)
        co_return;
    co_await presenter->ask(std::move(request), window.data(), token);
}

} // namespace

async::TaskHandle<void> presentAlert(std::shared_ptr<AlertPresenter> presenter, QWidget* window,
                                     AlertRequest request) {
    QPointer<QWidget> guarded(window);
    return async::spawn([presenter, guarded, request](std::stop_token token) {
        return presentOver(presenter, guarded, request, token);
    });
}
