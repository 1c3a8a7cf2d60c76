#include "services/FolderWatcher.h"

#include "platform/Logger.h"

#include <QDir>
#include <QFileSystemWatcher>

#include <algorithm>

namespace {

// A folder is listed again at most once a second, and a big one less often: reading an entry and
// showing it costs some ten microseconds, so waiting ten times that per entry keeps the listings
// to about a tenth of the time while a copy fills the folder.
constexpr auto shortestQuietTime = std::chrono::seconds(1);
constexpr auto quietTimePerEntry = std::chrono::microseconds(100);

QString cleanPath(const URL& folder) {
    return QDir::cleanPath(folder.toLocalFile());
}

} // namespace

FolderWatcher::FolderWatcher(UiTimerSource& timers, QObject* parent)
    : QObject(parent), m_timers(&timers), m_watcher(new QFileSystemWatcher(this)) {
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::changed);
}

FolderWatcher::~FolderWatcher() = default;

FolderWatcher::Duration FolderWatcher::quietTime(qsizetype entries) {
    const Duration scaled =
        std::chrono::duration_cast<Duration>(quietTimePerEntry * std::max<qsizetype>(entries, 0));
    return std::max<Duration>(shortestQuietTime, scaled);
}

void FolderWatcher::watch(const QList<URL>& folders) {
    QSet<QString> wanted;
    for (const URL& folder : folders) {
        if (folder.isFileURL())
            wanted.insert(cleanPath(folder));
    }
    const QStringList watched = m_watcher->directories();
    const QSet<QString> current(watched.begin(), watched.end());
    const QSet<QString> gone = current - wanted;
    if (!gone.isEmpty())
        m_watcher->removePaths(QStringList(gone.begin(), gone.end()));
    // A folder shown again later starts afresh: its changes meanwhile were never seen, and the
    // listing that shows it again reads them.
    m_folders.removeIf([&wanted](const auto& folder) { return !wanted.contains(folder.key()); });
    const QSet<QString> added = wanted - current;
    if (added.isEmpty())
        return;
    // A folder that is gone, or one the system will not watch (its limit reached), is still
    // listed when shown; only changes made while it is shown go unnoticed.
    const QStringList refused = m_watcher->addPaths(QStringList(added.begin(), added.end()));
    for (const QString& path : refused)
        Logger::filesystem().debug("Not watching %s", path);
}

QStringList FolderWatcher::watchedPaths() const {
    return m_watcher->directories();
}

QList<URL> FolderWatcher::watchedFolders() const {
    QList<URL> folders;
    for (const QString& path : m_watcher->directories())
        folders.append(URL::fileURL(path, true));
    return folders;
}

void FolderWatcher::listedAgain(const QList<URL>& folders) {
    const UiTimerSource::Instant now = m_timers->now();
    for (const URL& url : folders) {
        if (!url.isFileURL())
            continue;
        Folder& folder = m_folders[cleanPath(url)];
        folder.pending = false;
        folder.listed = now;
    }
    schedule();
}

void FolderWatcher::changed(const QString& path) {
    Folder& folder = m_folders[path];
    if (folder.pending)
        return;
    folder.pending = true;
    const UiTimerSource::Instant now = m_timers->now();
    folder.due = now;
    if (folder.listed) {
        const qsizetype entries = entriesOf ? entriesOf(URL::fileURL(path, true)) : 0;
        folder.due = std::max(now, *folder.listed + quietTime(entries));
    }
    schedule();
}

void FolderWatcher::schedule() {
    std::optional<UiTimerSource::Instant> earliest;
    for (const Folder& folder : std::as_const(m_folders)) {
        if (folder.pending && (!earliest || folder.due < *earliest))
            earliest = folder.due;
    }
    if (!earliest) {
        m_timer.cancel();
        m_timerDue.reset();
        return;
    }
    if (m_timerDue && *m_timerDue <= *earliest)
        return;
    m_timerDue = earliest;
    m_timer = m_timers->singleShot(*earliest - m_timers->now(), [this] { report(); });
}

void FolderWatcher::report() {
    m_timerDue.reset();
    const UiTimerSource::Instant now = m_timers->now();
    QList<URL> folders;
    for (auto folder = m_folders.begin(); folder != m_folders.end(); ++folder) {
        if (!folder->pending || folder->due > now)
            continue;
        folder->pending = false;
        folder->listed = now;
        folders.append(URL::fileURL(folder.key(), true));
    }
    schedule();
    if (folders.isEmpty() || !onChange)
        return;
    Logger::filesystem().debug("%ld shown folders changed on disk", folders.size());
    onChange(folders);
}
