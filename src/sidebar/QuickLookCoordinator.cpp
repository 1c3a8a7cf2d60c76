#include "sidebar/QuickLookCoordinator.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "platform/Logger.h"
#include "platform/NaturalOrder.h"
#include "platform/ObservableOperators.h"
#include "platform/TemporaryDirectory.h"
#include "platform/UiTimerSource.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/ImageThumbnailer.h"
#include "services/NavigationState.h"
#include "services/ThumbnailCache.h"
#include "transfer/Sha256.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>

#include <algorithm>
#include <limits>

QuickLookCoordinator::QuickLookCoordinator(NavigationState& navigationState,
                                           std::shared_ptr<AFCBridge> afcBridge, UiTimerSource& timers,
                                           QString temporaryFolder)
    : m_navigationState(navigationState), m_afcBridge(std::move(afcBridge)), m_timers(timers),
      m_temporaryFolder(std::move(temporaryFolder)) {
    startObservingSelection();
}

QuickLookCoordinator::~QuickLookCoordinator() {
    m_cancellables.clear();
    for (const auto& task : std::as_const(m_panelTasks))
        task.cancel();
    for (const auto& download : std::as_const(m_downloads))
        download.handle.cancel();
    for (const auto& task : std::as_const(m_alertTasks))
        task.cancel();
    if (QuickLookPanel* panel = QuickLookPanel::sharedIfExists()) {
        if (panel->dataSource() == this)
            panel->setDataSource(nullptr);
        if (panel->delegate() == this)
            panel->setDelegate(nullptr);
    }
}

void QuickLookCoordinator::startObservingSelection() {
    m_cancellables.push_back(
        debounce(m_navigationState.selectedItems, m_timers, std::chrono::milliseconds(50))
            .subscribe([this](const QSet<FileItem>&) {
                // A selection change never opens the panel; it only follows it while open.
                QuickLookPanel* panel = QuickLookPanel::sharedIfExists();
                if (panel && panel->isPanelVisible())
                    refreshPanel(panel);
            }));
}

QString QuickLookCoordinator::previewFolder() const {
    const QString base = m_temporaryFolder.isEmpty() ? runTemporaryDirectory() : m_temporaryFolder;
    if (base.isEmpty())
        return {};
    return QDir(base).filePath(QString(previewFolderName));
}

QString QuickLookCoordinator::locationFolderName(const URL& location) {
    return Sha256::hexOf(location.absoluteString().toUtf8()).left(16);
}

QList<FileItem> QuickLookCoordinator::filesInBrowserOrder(const QSet<FileItem>& selection,
                                                          const QList<FileItem>& listing) {
    QList<FileItem> ordered;
    QSet<QString> taken;
    for (const FileItem& item : listing) {
        if (!item.isDirectory() && selection.contains(item) && !taken.contains(item.id())) {
            ordered.append(item);
            taken.insert(item.id());
        }
    }
    QList<FileItem> rest;
    for (const FileItem& item : selection) {
        if (!item.isDirectory() && !taken.contains(item.id()))
            rest.append(item);
    }
    std::sort(rest.begin(), rest.end(), [](const FileItem& a, const FileItem& b) {
        const int byName = naturalCompare(a.name(), b.name());
        return byName != 0 ? byName < 0 : a.id() < b.id();
    });
    ordered.append(rest);
    return ordered;
}

QList<FileItem> QuickLookCoordinator::selectedFiles() const {
    return filesInBrowserOrder(m_navigationState.selectedItems.value(),
                               m_navigationState.currentDirectoryContents.value());
}

void QuickLookCoordinator::refreshPanel(QuickLookPanel* panel) {
    startPanelTask(panel, false);
}

void QuickLookCoordinator::showPanel(QuickLookPanel* panel) {
    startPanelTask(panel, true);
}

void QuickLookCoordinator::startPanelTask(QuickLookPanel* panel, bool show) {
    QList<FileItem> files = selectedFiles();
    // Only folders (or nothing): the panel is neither reloaded nor shown.
    if (files.isEmpty() || !panel)
        return;
    // Pictures through the app's decoder: HEIC, and the camera's orientation applied.
    panel->setImageDecoder(&ImageThumbnailer::fromFile);
    m_panelTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    QPointer<QuickLookCoordinator> self(this);
    QPointer<QuickLookPanel> target(panel);
    m_panelTasks.append(async::spawn([self, target, files, show](std::stop_token token) {
        return buildItems(self, target, files, show, token);
    }));
    if (show) {
        m_pendingShows.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
        m_pendingShows.append(m_panelTasks.last());
    }
}

bool QuickLookCoordinator::cancelPendingShows() {
    bool cancelled = false;
    for (const auto& task : std::as_const(m_pendingShows)) {
        if (!task.isFinished() && !task.isCancelled()) {
            task.cancel();
            cancelled = true;
        }
    }
    m_pendingShows.clear();
    return cancelled;
}

async::Task<void> QuickLookCoordinator::buildItems(QPointer<QuickLookCoordinator> self,
                                                   QPointer<QuickLookPanel> panel, QList<FileItem> files,
                                                   bool show, std::stop_token token) {
    // The panel comes at once with what is known already (a type's icon, a copy made before);
    // stills and copies follow, and the items are shown again once they are there.
    if (show && self && panel) {
        panel->setDataSource(self.data());
        panel->setDelegate(self.data());
        panel->reloadData();
        panel->makeKeyAndOrderFront(self->mainWindow ? self->mainWindow() : nullptr);
    }
    // The frames of the items shown before are not needed again.
    QHash<QString, QImage> frames;
    QList<URL> urls;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FileItem file = files[i];
        if (file.kind() == FileKind::video) {
            if (!self)
                co_return;
            async::Task<QImage> framing = videoFrame(self->m_afcBridge, file);
            const QImage frame = co_await std::move(framing);
            if (!self || token.stop_requested())
                co_return;
            frames.insert(file.path().absoluteString(), frame);
        }
        // The panel reads a local file itself; a device file it would only show the icon of is
        // not worth copying whole (a video can take minutes).
        if (file.path().scheme() != u"afc" || !panelShowsContents(file)) {
            urls.append(file.path());
            continue;
        }
        if (!self)
            co_return;
        async::Task<std::optional<URL>> download = self->downloadForPreview(file);
        const std::optional<URL> local = co_await std::move(download);
        if (!self || token.stop_requested())
            co_return;
        if (local)
            urls.append(*local);
    }
    if (!self || !panel || token.stop_requested())
        co_return;
    // The panel asks whoever fills it; nobody else negotiates for it here.
    panel->setDataSource(self.data());
    panel->setDelegate(self.data());
    self->m_frames = frames;
    self->m_previewItems = urls;
    panel->reloadData();
}

async::Task<QImage> QuickLookCoordinator::videoFrame(std::shared_ptr<AFCBridge> bridge, FileItem file) {
    // The cache answers from memory when it has the frame. The bridge is held here for as long
    // as the cache's request runs.
    async::Task<QImage> making = ThumbnailCache::shared().thumbnailAwaitingOthers(file, bridge.get());
    co_return co_await std::move(making);
}

bool QuickLookCoordinator::panelShowsContents(const FileItem& item) {
    static const std::optional<UniformType> pdf =
        UniformType::fromIdentifier(QStringLiteral("application/pdf"));
    return item.kind() == FileKind::image || (item.uti() && (item.uti()->conformsTo(UniformType::text()) ||
                                                             (pdf && item.uti()->conformsTo(*pdf))));
}

void QuickLookCoordinator::removeTemporaryCopies() {
    // Only the copies this run made (another instance may be showing its own), then the folders
    // they leave empty.
    for (const URL& copy : std::as_const(m_tempFiles)) {
        const QString path = copy.toLocalFile();
        QFile::remove(path);
        QDir().rmdir(QFileInfo(path).absolutePath());
    }
    m_tempFiles.clear();
    if (const QString folder = previewFolder(); !folder.isEmpty())
        QDir().rmdir(folder);
}

void QuickLookCoordinator::reloadPreviewItemsFromCache() {
    QList<URL> urls;
    QList<QuickLookItemFacts> facts;
    for (const FileItem& file : selectedFiles()) {
        const QString key = file.path().absoluteString();
        QuickLookItemFacts known{qint64(std::min<quint64>(file.size(), std::numeric_limits<qint64>::max())),
                                 file.uti() ? file.uti()->identifier() : QString(), m_frames.value(key)};
        if (file.path().scheme() != u"afc" || !panelShowsContents(file)) {
            urls.append(file.path());
            facts.append(known);
            continue;
        }
        const auto copy = m_tempFiles.constFind(key);
        if (copy != m_tempFiles.constEnd()) {
            urls.append(*copy);
            facts.append(known);
        }
    }
    m_previewItems = urls;
    m_previewFacts = facts;
}

namespace {

async::Task<std::optional<URL>> ready(std::optional<URL> url) {
    co_return url;
}

void logFailure(const QString& devicePath, const QString& reason) {
    Logger::ui().error("QuickLook download failed for %s: %s", devicePath, reason);
}

} // namespace

async::Task<std::optional<URL>> QuickLookCoordinator::fetch(QPointer<QuickLookCoordinator> self,
                                                            std::shared_ptr<AFCBridge> bridge, FileItem item,
                                                            QString folder, std::stop_token token) {
    const QString key = item.path().absoluteString();
    if (!bridge)
        co_return std::nullopt;
    const std::optional<AFCComponents> components = afcComponents(item.path());
    if (!components)
        co_return std::nullopt;
    // A failure to connect is no failure of its own: a session may already be open, and a
    // missing one makes the copy below fail and be logged.
    std::exception_ptr ignored;
    try {
        if (components->bundleID) {
            async::Task<void> connecting = bridge->connectApp(components->udid, *components->bundleID);
            co_await std::move(connecting);
        } else {
            async::Task<void> connecting = bridge->connect(components->udid);
            co_await std::move(connecting);
        }
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        ignored = std::current_exception();
    }
    if (token.stop_requested())
        co_return std::nullopt;
    if (folder.isEmpty()) {
        logFailure(components->devicePath, QStringLiteral("no temporary folder"));
        co_return std::nullopt;
    }
    const QString subfolder = QDir(folder).filePath(locationFolderName(item.path()));
    // The name comes from the device: ".." or a "/" must not lead the copy out of its folder.
    const std::optional<QString> local = AFCPath::child(subfolder, item.name());
    if (!local || !AFCPath::isUsable(*local)) {
        logFailure(components->devicePath, QStringLiteral("the name cannot be used for a file"));
        co_return std::nullopt;
    }
    if (!QDir().mkpath(subfolder)) {
        logFailure(components->devicePath, QStringLiteral("the folder %1 cannot be made").arg(subfolder));
        co_return std::nullopt;
    }
    // The bridge writes beside the copy and renames it into place only when whole, so neither a
    // failed read nor a second writer ever leaves a cut-off file under the copy's name.
    const URL target = URL::fileURL(*local);
    std::exception_ptr failure;
    try {
        async::Task<quint64> copying = bridge->download(components->udid, components->devicePath, target,
                                                        components->bundleID, AFCDownloadProgress(), token);
        co_await std::move(copying);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        logFailure(components->devicePath, async::describeException(failure));
        co_return std::nullopt;
    }
    Logger::ui().debug("QuickLook temp: %s", *local);
    if (self)
        self->m_tempFiles.insert(key, target);
    co_return target;
}

async::Task<std::optional<URL>> QuickLookCoordinator::downloadForPreview(FileItem item) {
    const QString key = item.path().absoluteString();
    if (const auto copy = m_tempFiles.constFind(key); copy != m_tempFiles.constEnd()) {
        // A copy serves for the rest of the run, whatever became of the device file; one that a
        // cleaner of the temporary folder took away is made again rather than shown missing.
        if (QFileInfo::exists(copy->toLocalFile()))
            return ready(*copy);
        m_tempFiles.erase(copy);
    }
    auto running = m_downloads.constFind(key);
    if (running == m_downloads.constEnd()) {
        QPointer<QuickLookCoordinator> self(this);
        auto bridge = m_afcBridge;
        const QString folder = previewFolder();
        auto handle = async::spawn([self, bridge, item, folder](std::stop_token token) {
            return fetch(self, bridge, item, folder, token);
        });
        running = m_downloads.insert(key, Download{++m_downloadSerial, handle});
    }
    return awaitDownload(QPointer<QuickLookCoordinator>(this), key, running->serial, running->handle);
}

async::Task<std::optional<URL>>
QuickLookCoordinator::awaitDownload(QPointer<QuickLookCoordinator> self, QString key, quint64 serial,
                                    async::TaskHandle<std::optional<URL>> handle) {
    async::Task<std::optional<URL>> result = handle.result();
    std::optional<URL> local = co_await std::move(result);
    // The first waiter ends the record; a later request then starts afresh (a failed copy is
    // tried again, a made one is found among the copies).
    if (self) {
        const auto running = self->m_downloads.constFind(key);
        if (running != self->m_downloads.constEnd() && running->serial == serial)
            self->m_downloads.erase(running);
    }
    co_return local;
}

int QuickLookCoordinator::numberOfPreviewItems(QuickLookPanel*) {
    reloadPreviewItemsFromCache();
    return int(m_previewItems.size());
}

std::optional<URL> QuickLookCoordinator::previewItemAt(QuickLookPanel*, int index) {
    if (index < 0 || index >= m_previewItems.size())
        return std::nullopt;
    return m_previewItems[index];
}

QuickLookItemFacts QuickLookCoordinator::previewFactsAt(QuickLookPanel*, int index) {
    return m_previewFacts.value(index);
}

bool QuickLookCoordinator::canOpenPreviewItem(QuickLookPanel*, const URL& url) {
    return url.isFileURL() || url.scheme() == u"afc";
}

void QuickLookCoordinator::openPreviewItem(QuickLookPanel* panel, const URL& url) {
    if (url.isFileURL()) {
        open(url, panel);
        return;
    }
    for (const FileItem& file : selectedFiles()) {
        if (file.path() != url)
            continue;
        QPointer<QuickLookCoordinator> self(this);
        QPointer<QuickLookPanel> over(panel);
        m_panelTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
        m_panelTasks.append(
            async::spawn([self, over, file](std::stop_token) { return openCopy(self, over, file); }));
        return;
    }
}

async::Task<void> QuickLookCoordinator::openCopy(QPointer<QuickLookCoordinator> self,
                                                 QPointer<QuickLookPanel> panel, FileItem file) {
    if (!self)
        co_return;
    async::Task<std::optional<URL>> copying = self->downloadForPreview(file);
    const std::optional<URL> local = co_await std::move(copying);
    // The copy's failure is logged where it happened; the desktop gets nothing half made.
    if (self && local)
        self->open(*local, panel);
}

void QuickLookCoordinator::open(const URL& local, QuickLookPanel* panel) {
    if (Workspace::open(local) || !alertPresenter)
        return;
    // Said over the panel, where Open was pressed; over the main window once the panel is closed
    // (a device file's copy can take a while).
    QWidget* over =
        panel && panel->isVisible() ? static_cast<QWidget*>(panel) : (mainWindow ? mainWindow() : nullptr);
    m_alertTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_alertTasks.append(
        presentAlert(alertPresenter, over,
                     Workspace::openFailedAlert(QStringLiteral("The file could not be opened."),
                                                local.lastPathComponent())));
}

bool QuickLookCoordinator::handleKeyEvent(QuickLookPanel*, QKeyEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        break;
    default:
        return false;
    }
    QWidget* window = mainWindow ? mainWindow() : nullptr;
    if (!window)
        return false;
    // The browser listens on its focused view, not on the window frame.
    QWidget* receiver = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
                   ushort(event->count()));
    QApplication::sendEvent(receiver, &copy);
    return true;
}
