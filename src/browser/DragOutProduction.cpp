#include "browser/DragOutProduction.h"

#include "browser/DragAndDropHandler.h"
#include "browser/DragOutPointerWatch.h"
#include "browser/FileItemListModel.h"
#include "browser/OrvantaDragMimeData.h"
#include "device/AFCPath.h"
#include "platform/FileTreeRemoval.h"
#include "platform/Logger.h"
#include "platform/URL.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/MainThread.h"
#include "platform/async/TaskHandle.h"

#include <QDir>
#include <QDrag>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QUuid>
#include <QWidget>

namespace {

// Receivers wait only seconds for dropped data; a longer wait is worth knowing about.
constexpr qint64 slowAnswerMs = 2000;

// The folders this run's drags made, for quitting to remove. Main thread only.
QStringList& foldersOfThisRun() {
    static QStringList folders;
    return folders;
}

} // namespace

std::shared_ptr<DragOutProduction> DragOutProduction::create(std::shared_ptr<DragAndDropHandler> handler,
                                                             QList<FileItem> items, UiTimerSource& timers) {
    return std::shared_ptr<DragOutProduction>(
        new DragOutProduction(std::move(handler), std::move(items), timers));
}

DragOutProduction::DragOutProduction(std::shared_ptr<DragAndDropHandler> handler, QList<FileItem> items,
                                     UiTimerSource& timers)
    : m_handler(std::move(handler)), m_dragID(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()),
      m_timers(timers) {
    for (FileItem& item : items)
        m_entries.append(Entry{std::move(item), std::nullopt, false});
}

DragOutProduction::~DragOutProduction() = default;

QString DragOutProduction::folder() const {
    return QDir(m_handler->stagingRoot()).filePath(m_dragID);
}

void DragOutProduction::execDrag(QWidget* source, QList<FileItem> items,
                                 std::shared_ptr<DragAndDropHandler> handler, UiTimerSource& timers,
                                 std::shared_ptr<AlertPresenter> presenter) {
    if (items.isEmpty())
        return;
    auto* data = new OrvantaDragMimeData(items);
    std::shared_ptr<DragOutProduction> production;
    if (handler) {
        production = create(std::move(handler), items, timers);
        production->install(*data);
    }
    // The drag runs its own loop: the view may be gone when it returns.
    QPointer<QWidget> view(source);
    {
        // The device copies start once the pointer leaves our windows, so that they are well
        // under way by the time a receiver asks for them.
        std::optional<DragOutPointerWatch> watch;
        if (production)
            watch.emplace(timers, [production] { production->start(); });
        auto* drag = new QDrag(source);
        drag->setMimeData(data);
        drag->setPixmap(FileItemListModel::icon(items.first()).pixmap(32, 32));
        drag->exec(Qt::CopyAction);
    }
    if (production)
        production->showFailuresWhenAnswered(std::move(presenter), view ? view->window() : nullptr);
}

void DragOutProduction::install(OrvantaDragMimeData& data) {
    // Owned by the data: a receiver in another program asks after the drop, when the drag's
    // starter has long returned.
    std::shared_ptr<DragOutProduction> self = shared_from_this();
    data.setExternalURLSource([self] { return self->urls(); });
}

bool DragOutProduction::isFinished() const {
    return m_started && m_pending == 0;
}

void DragOutProduction::start() {
    if (m_started)
        return;
    m_started = true;
    m_pending = int(m_entries.size());
    for (int row = 0; row < m_entries.size(); ++row)
        produce(row);
}

void DragOutProduction::produce(int row) {
    const FileItem& item = m_entries.at(row).item;
    if (item.path().isFileURL()) {
        settle(row, toQUrl(item.path()));
        return;
    }
    // A folder per row: two items of one name dragged together each keep their name.
    const QString root = m_handler->stagingRoot();
    const QString dragFolder = QDir(root).filePath(m_dragID);
    const QString rowFolder = QDir(dragFolder).filePath(QString::number(row));
    const std::optional<QString> destination = AFCPath::child(rowFolder, item.name());
    if (!root.isEmpty() && !foldersOfThisRun().contains(dragFolder))
        foldersOfThisRun().append(dragFolder);
    if (root.isEmpty() || !destination || !AFCPath::isUsable(*destination) || !QDir().mkpath(rowFolder)) {
        Logger::transfer().error("File promise copy failed for %s: %s", item.name(),
                                 QStringLiteral("no place to copy it to"));
        settle(row, std::nullopt);
        return;
    }
    const URL target = URL::fileURL(*destination, item.isDirectory());
    QPointer<DragOutProduction> self(this);
    m_handler->writePromise(DragAndDropHandler::promiseInfo(item), URL::fileURL(*destination),
                            [self, row, target](std::exception_ptr error) {
                                if (self)
                                    self->settle(row,
                                                 error ? std::nullopt : std::optional<QUrl>(toQUrl(target)));
                            });
}

void DragOutProduction::settle(int row, std::optional<QUrl> url) {
    Entry& entry = m_entries[row];
    if (entry.done)
        return;
    entry.done = true;
    entry.url = std::move(url);
    if (--m_pending == 0)
        emit finished();
}

QList<QUrl> DragOutProduction::readyURLs() const {
    QList<QUrl> ready;
    for (const Entry& entry : m_entries) {
        if (entry.url)
            ready.append(*entry.url);
    }
    return ready;
}

QList<QUrl> DragOutProduction::urls() {
    if (m_answered)
        return m_answer;
    // Asked again from inside the wait (the receiver's request ran the loop): a second loop would
    // keep the first one from ending until it ends.
    if (m_waiting)
        return readyURLs();
    // The wait runs the loop, and in it the drag can end: a receiver that gave up sends its
    // finish, or the user cancels, and Qt deletes the drag with its data, which owns this
    // production. It stays until this request has its answer.
    const std::shared_ptr<DragOutProduction> self = shared_from_this();
    start();
    if (!isFinished()) {
        QElapsedTimer waited;
        waited.start();
        QEventLoop loop;
        connect(this, &DragOutProduction::finished, &loop, &QEventLoop::quit);
        // The receiver stops waiting after a few seconds; a wait beyond it would answer nobody and
        // hold this request's loop, and everything waiting behind it, for as long as a copy takes.
        const Subscription givingUp = m_timers.singleShot(receiverWait, [&loop] { loop.quit(); });
        // Checked again after connecting: the last copy may have ended meanwhile.
        if (!isFinished()) {
            m_waiting = true;
            loop.exec();
            m_waiting = false;
        }
        if (waited.elapsed() > slowAnswerMs)
            Logger::ui().info("Drag out: the receiver waited %lld ms for the copies; it may have given up",
                              waited.elapsed());
    }
    for (Entry& entry : m_entries) {
        if (!entry.done) {
            entry.notReady = true;
            Logger::transfer().error("Drag out: %s was not ready when the receiver stopped waiting",
                                     entry.item.name());
        }
    }
    m_answer = readyURLs();
    m_answered = true;
    emit answered();
    return m_answer;
}

QStringList DragOutProduction::failedNames() const {
    QStringList names;
    for (const Entry& entry : m_entries) {
        if (entry.notReady || (entry.done && !entry.url))
            names.append(entry.item.name());
    }
    return names;
}

std::optional<AlertRequest> DragOutProduction::failureAlert(const QStringList& names) {
    if (names.isEmpty())
        return std::nullopt;
    AlertRequest request;
    request.style = AlertRequest::Style::warning;
    request.message = names.size() == 1 ? QStringLiteral("“%1” could not be copied.").arg(names.front())
                                        : QStringLiteral("%1 items could not be copied.").arg(names.size());
    request.informative =
        names.size() == 1
            ? QStringLiteral("It was left out of the drop.")
            : QStringLiteral("These were left out of the drop: %1.").arg(names.join(QStringLiteral(", ")));
    request.buttons = {QStringLiteral("OK")};
    return request;
}

async::Task<void> DragOutProduction::showFailures(AlertPresenter& presenter, QWidget* parent) {
    const std::optional<AlertRequest> request = failureAlert(failedNames());
    if (!request)
        co_return;
    AlertRequest shown = *request;
    async::Task<AlertResponse> asking = presenter.ask(shown, parent, {});
    co_await std::move(asking);
}

void DragOutProduction::showFailuresWhenAnswered(std::shared_ptr<AlertPresenter> presenter,
                                                 QPointer<QWidget> parent) {
    // Later, not inside the receiver's request for the data, which is still waiting for it.
    auto show = [presenter, parent](std::shared_ptr<DragOutProduction> self) {
        async::postToMain([self, presenter, parent] {
            if (!parent || self->failedNames().isEmpty())
                return;
            async::spawn([self, presenter, parent](std::stop_token) -> async::Task<void> {
                QWidget* over = parent;
                if (!over)
                    co_return;
                async::Task<void> showing = self->showFailures(*presenter, over);
                co_await showing;
            });
        });
    };
    if (m_answered) {
        show(shared_from_this());
        return;
    }
    // Weak: a production that is never asked for goes with its drag's data.
    std::weak_ptr<DragOutProduction> weak = weak_from_this();
    connect(
        this, &DragOutProduction::answered, this,
        [weak, show] {
            if (std::shared_ptr<DragOutProduction> self = weak.lock())
                show(self);
        },
        Qt::SingleShotConnection);
}

int DragOutProduction::removeStaleFolders(const QString& root, const QDateTime& now) {
    return root.isEmpty() ? 0 : removeEntriesChangedBefore(root, now.addSecs(-24 * 60 * 60));
}

void DragOutProduction::removeFoldersOfThisRun() {
    for (const QString& folder : std::as_const(foldersOfThisRun()))
        removeFileTree(folder);
    foldersOfThisRun().clear();
}
