#pragma once

#include "platform/URL.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QFileSystemWatcher;

// Watches the computer folders the window shows and reports when their entries change on disk,
// whoever changed them: another program, or one of our own copies. Changes that arrive together
// (a copy creates its hidden file and then renames it) are reported once, on the next turn of
// the event loop. Device folders cannot be watched and are left out.
class FolderWatcher : public QObject {
    Q_OBJECT
public:
    explicit FolderWatcher(QObject* parent = nullptr);

    // Watches exactly these folders from now on (the computer ones among them).
    void watch(const QList<URL>& folders);
    // The paths watched now.
    QStringList watchedPaths() const;

    // The folders whose entries changed.
    std::function<void(const QList<URL>& folders)> onChange;

private:
    void changed(const QString& path);
    void report();

    QFileSystemWatcher* m_watcher;
    QSet<QString> m_changed;
    bool m_reportPosted = false;
};
