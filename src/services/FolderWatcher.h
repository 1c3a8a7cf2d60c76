#pragma once

#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/UiTimerSource.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QFileSystemWatcher;

// Watches the computer folders the window shows and reports when their entries change on disk,
// whoever changed them: another program, or one of our own copies. Changes that arrive together
// (a copy creates its hidden file and then renames it) are reported once, on the next turn of
// the event loop. A folder that keeps changing (a copy of thousands of files writing into it) is
// reported at a bounded rate: after a report, the next one waits a quiet time that grows with the
// folder's size, so that listing it again never costs more than a small share of the time,
// however many entries it holds. Device folders cannot be watched and are left out.
class FolderWatcher : public QObject {
    Q_OBJECT
public:
    using Duration = UiTimerSource::Duration;

    explicit FolderWatcher(UiTimerSource& timers, QObject* parent = nullptr);
    ~FolderWatcher() override;

    void setTimerSource(UiTimerSource& timers) { m_timers = &timers; }

    // Watches exactly these folders from now on (the computer ones among them).
    void watch(const QList<URL>& folders);
    // The paths watched now.
    QStringList watchedPaths() const;
    QList<URL> watchedFolders() const;

    // The window lists these folders again now for a reason of its own (it changed their files
    // itself): what changed up to now is covered by that listing, and their next report waits
    // their quiet time.
    void listedAgain(const QList<URL>& folders);

    // The folders whose entries changed.
    std::function<void(const QList<URL>& folders)> onChange;
    // How many entries a folder showed when last listed; none known counts as an empty folder.
    std::function<qsizetype(const URL& folder)> entriesOf;

    // The shortest time between two reports of a folder of that many entries.
    static Duration quietTime(qsizetype entries);

    // A change of the folder at that path, as the system reports it.
    void changed(const QString& path);

private:
    struct Folder {
        // When the folder was last listed again (by a report or by the window itself).
        std::optional<UiTimerSource::Instant> listed;
        bool pending = false;
        UiTimerSource::Instant due{};
    };

    void schedule();
    void report();

    UiTimerSource* m_timers;
    QFileSystemWatcher* m_watcher;
    QHash<QString, Folder> m_folders;
    Subscription m_timer;
    std::optional<UiTimerSource::Instant> m_timerDue;
};
