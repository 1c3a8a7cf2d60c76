#include "browser/FolderWatcher.h"

#include "platform/Logger.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

FolderWatcher::FolderWatcher(QObject* parent) : QObject(parent), m_watcher(new QFileSystemWatcher(this)) {
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::changed);
}

void FolderWatcher::watch(const QList<URL>& folders) {
    QSet<QString> wanted;
    for (const URL& folder : folders) {
        if (folder.isFileURL())
            wanted.insert(QDir::cleanPath(folder.toLocalFile()));
    }
    const QStringList watched = m_watcher->directories();
    const QSet<QString> current(watched.begin(), watched.end());
    const QSet<QString> gone = current - wanted;
    if (!gone.isEmpty())
        m_watcher->removePaths(QStringList(gone.begin(), gone.end()));
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

void FolderWatcher::changed(const QString& path) {
    m_changed.insert(path);
    if (m_reportPosted)
        return;
    m_reportPosted = true;
    QTimer::singleShot(0, this, &FolderWatcher::report);
}

void FolderWatcher::report() {
    m_reportPosted = false;
    QList<URL> folders;
    for (const QString& path : std::as_const(m_changed))
        folders.append(URL::fileURL(path, true));
    m_changed.clear();
    if (folders.isEmpty() || !onChange)
        return;
    Logger::filesystem().debug("%ld shown folders changed on disk", folders.size());
    onChange(folders);
}
