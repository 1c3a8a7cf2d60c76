#pragma once

#include "platform/LeavableThread.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/UiTimerSource.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

// Watches the computer folders the window shows and reports when their entries change on disk,
// whoever changed them: another program, or one of our own copies. Changes that arrive together
// (a copy creates its hidden file and then renames it) are reported once, on the next turn of
// the event loop. A folder that keeps changing (a copy of thousands of files writing into it) is
// reported at a bounded rate: after a report, the next one waits a quiet time that grows with the
// folder's size, so that listing it again never costs more than a small share of the time,
// however many entries it holds. A folder shown under two names (a link, a bind mount) is heard
// of under each of them. A folder the system will not watch (gone, or the per-user limit of
// watches or of watchers reached) is looked at every two seconds instead, and reported when its
// own facts changed. Device folders cannot be watched and are left out.
//
// The watches are made on a thread of its own: making one looks the folder up, and a folder on a
// network share whose server went silent would hold the window's thread for as long as the
// server is silent. Such a folder's changes go unreported meanwhile, and so do those of folders
// asked for after it, until it answers.
class FolderWatcher : public QObject {
    Q_OBJECT
public:
    using Duration = UiTimerSource::Duration;

    // How the watcher asks the system for its watches; by default inotify itself. A test stands in
    // for a system that refuses them (a per-user limit reached), which it could not bring about
    // without harming the rest of the machine. init is called by the constructor, addWatch on
    // the watcher's thread; both set errno when they fail.
    struct SystemCalls {
        std::function<int(int flags)> init;
        std::function<int(int inotify, const char* path, quint32 events)> addWatch;
    };

    // How often folders the system will not watch are looked at: a look costs one stat a folder,
    // made on the watcher's thread, and a change shows within a moment's wait.
    static constexpr Duration lookInterval = std::chrono::seconds(2);

    explicit FolderWatcher(UiTimerSource& timers, QObject* parent = nullptr);
    FolderWatcher(UiTimerSource& timers, SystemCalls calls, QObject* parent = nullptr);
    ~FolderWatcher() override;

    void setTimerSource(UiTimerSource& timers) { m_timers = &timers; }

    // Watches exactly these folders from now on (the computer ones among them). A folder that
    // could not be watched is tried again at each look and at the next call.
    void watch(const QList<URL>& folders);
    // The paths asked for by the last watch().
    QStringList watchedPaths() const;
    QList<URL> watchedFolders() const;
    // Whether the thread has made (or failed) every watch and every look asked for, and sent
    // what they found, and every changedHere is answered: changes made before that may go
    // unreported. For tests.
    bool isSettled() const;
    // Whether the thread is making watches now. For tests.
    bool isMakingWatches() const;

    // The window lists these folders again now for a reason of its own (it changed their files
    // itself): what changed up to now is covered by that listing, and their next report waits
    // their quiet time.
    void listedAgain(const QList<URL>& folders);

    // The window changed the files of these folders itself (a copy into one ended, an item was
    // renamed): each is reported at once, unless the last report of it (or listedAgain) already
    // came after every change the system has told of. What the system has not passed on yet is
    // read first, so a change made just before the call is never taken as covered. A folder the
    // system does not watch is reported at once. False, and nothing done, when one of them is
    // not a watched computer folder, while the thread is still making watches (it may wait on a
    // silent share), or once it has ended: the caller lists them itself then.
    bool changedHere(const QList<URL>& folders);

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

    struct Engine;

    // Whether the thread has made every watch and look asked for: one still making them may wait
    // on a silent share.
    bool threadIsIdle() const;
    void schedule();
    void report();
    // From the thread: changes seen, folders newly refused (with the system's reason), and how
    // many folders it looks at.
    void heard(const QList<QByteArray>& changedPaths, const QList<std::pair<QByteArray, int>>& refusedPaths,
               qsizetype lookedAt);
    // From the thread: every event asked for by changedHere up to that request is read, and these
    // are the folders it watches.
    void synced(quint64 request, const QSet<QByteArray>& watched);
    // Asks for a look every lookInterval while the thread looks at folders.
    void keepLooking();

    UiTimerSource* m_timers;
    std::shared_ptr<Engine> m_engine;
    LeavableThread m_thread;
    QStringList m_wanted;
    // Tells posted reports whether the watcher is still there.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
    QHash<QString, Folder> m_folders;
    Subscription m_timer;
    std::optional<UiTimerSource::Instant> m_timerDue;
    qsizetype m_lookedAt = 0;
    Subscription m_lookTimer;
    bool m_lookDue = false;
    // changedHere's folders, by the request that reads the events before them.
    QList<std::pair<quint64, QStringList>> m_changedHere;
};
