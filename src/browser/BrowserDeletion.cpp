#include "browser/BrowserDeletion.h"

#include <QWidget>

#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"

async::Task<QStringList> BrowserDeletion::deleteEach(std::shared_ptr<FileSystemProvider> provider,
                                                     QList<FileItem> items) {
    QStringList failures;
    for (qsizetype index = 0; index < items.size(); ++index) {
        const FileItem item = items.at(index);
        std::exception_ptr failure;
        try {
            co_await provider->deleteItem(item);
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            failures.append(item.name());
            Logger::ui().error("Delete failed for %s: %s", item.name(), async::describeException(failure));
        }
    }
    co_return failures;
}

AlertRequest BrowserDeletion::failureSummary(const QStringList& failures) {
    AlertRequest summary;
    summary.style = AlertRequest::Style::warning;
    summary.message = failures.size() == 1 ? QStringLiteral("Could not delete \"%1\"").arg(failures.first())
                                           : QStringLiteral("Could not delete %1 items").arg(failures.size());
    summary.informative = failures.join(u'\n');
    summary.buttons = QStringList{QStringLiteral("OK")};
    return summary;
}

AlertRequest BrowserDeletion::question(const QString& message, const QString& informative) {
    AlertRequest asked;
    asked.style = AlertRequest::Style::warning;
    asked.message = message;
    asked.informative = informative;
    asked.buttons = QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")};
    return asked;
}

async::Task<void> BrowserDeletion::confirmAndDelete(QPointer<QWidget> view, std::function<void()> changed,
                                                    std::shared_ptr<FileSystemProvider> provider,
                                                    std::shared_ptr<AlertPresenter> presenter,
                                                    QList<FileItem> items,
                                                    std::optional<AlertRequest> question,
                                                    std::stop_token token) {
    if (question) {
        if (!view)
            co_return;
        QWidget* parent = view->window();
        const AlertResponse answer = co_await presenter->ask(*question, parent, token);
        if (answer.buttonIndex() != 0)
            co_return;
    }
    async::Task<QStringList> deleting = deleteEach(provider, items);
    const QStringList failures = co_await deleting;
    if (!view)
        co_return;
    changed();
    if (failures.isEmpty() || !view)
        co_return;
    const AlertRequest summary = failureSummary(failures);
    QWidget* parent = view->window();
    co_await presenter->ask(summary, parent, token);
}
