#include "services/FolderWatcher.h"

#include "platform/Logger.h"
#include "platform/async/MainThread.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder is listed again at most once a second, and a big one less often: reading an entry and
// showing it costs some ten microseconds, so waiting ten times that per entry keeps the listings
// to about a tenth of the time while a copy fills the folder.
constexpr auto shortestQuietTime = std::chrono::seconds(1);
constexpr auto quietTimePerEntry = std::chrono::microseconds(100);

// Entries made, removed, renamed in or out, or changed in their attributes, and the folder itself
// removed or renamed.
constexpr uint32_t folderEvents =
    IN_ATTRIB | IN_MOVE | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

QString cleanPath(const URL& folder) {
    return QDir::cleanPath(folder.toLocalFile());
}

long long lookSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(FolderWatcher::lookInterval).count();
}

// What a look at a folder the system will not watch compares: the folder's own facts, which
// change when an entry is made, removed or renamed in it. Two changes within one tick of the
// file system's clock, one of them just before a look, show as one.
struct Facts {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t links = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static Facts of(const QByteArray& path) {
        struct stat facts {};
        if (::stat(path.constData(), &facts) != 0)
            return {};
        return {true,          facts.st_dev,  facts.st_ino, facts.st_nlink,
                facts.st_size, facts.st_mtim, facts.st_ctim};
    }

    bool operator==(const Facts& other) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return present == other.present && device == other.device && inode == other.inode &&
               links == other.links && size == other.size && same(modified, other.modified) &&
               same(changed, other.changed);
    }
};

} // namespace

// The watches and the thread that makes them and reads their events. Paths travel encoded, so
// that a thread left behind on a silent share needs nothing of the program's but its own state.
// Every folder asked for is either watched or, when the system will not watch it (gone, or a limit
// of watches reached), looked at when the watcher asks for a look.
struct FolderWatcher::Engine {
    struct Heard {
        QList<QByteArray> changed;
        // Folders newly looked at instead of watched, with the system's reason.
        QList<std::pair<QByteArray, int>> refused;
        qsizetype lookedAt = 0;
        // A changedHere request answered: what it waits on is in changed, and these are watched.
        std::optional<quint64> synced;
        QSet<QByteArray> watched;
    };
    using Post = std::function<void(Heard heard)>;

    SystemCalls calls;
    int inotify = -1;
    int inotifyError = 0; // why there is no inotify instance
    int wake = -1;        // an eventfd: the wanted folders changed, a look is asked, or the watcher ends
    std::mutex mutex;
    QSet<QByteArray> wanted;
    quint64 asked = 0;
    quint64 taken = 0;
    quint64 applied = 0;
    quint64 looksAsked = 0;
    quint64 looksMade = 0;
    quint64 syncsAsked = 0;
    quint64 syncsAnswered = 0;
    // The thread has ended (poll failed, or the watcher ends): nothing it is asked is answered.
    bool stopped = false;
    bool stopping = false;

    // The thread's own state. The system keeps one watch per folder however many names it was
    // asked under (a link, a bind mount): each name keeps the watch it shares, and the watch goes
    // with the last of them.
    QHash<QByteArray, int> watchOf;
    QHash<int, QList<QByteArray>> namesOf;
    // The folders looked at instead, with what the last look saw.
    QHash<QByteArray, Facts> lookedAt;
    qsizetype lookedAtPosted = 0;

    ~Engine() {
        if (inotify >= 0)
            ::close(inotify);
        if (wake >= 0)
            ::close(wake);
    }

    void nudge() const {
        const uint64_t one = 1;
        (void)!::write(wake, &one, sizeof one);
    }

    // Whether the system watches the folder from now on; errno says why not.
    bool addWatch(const QByteArray& path) {
        if (inotify < 0) {
            errno = inotifyError;
            return false;
        }
        // Looks the folder up: on a silent share, this is where the thread waits.
        const int watch = calls.addWatch ? calls.addWatch(inotify, path.constData(), folderEvents)
                                         : ::inotify_add_watch(inotify, path.constData(), folderEvents);
        if (watch < 0)
            return false;
        watchOf.insert(path, watch);
        QList<QByteArray>& names = namesOf[watch];
        if (!names.contains(path))
            names.append(path);
        return true;
    }

    void dropName(const QByteArray& path) {
        const int watch = watchOf.take(path);
        const auto names = namesOf.find(watch);
        if (names == namesOf.end())
            return;
        names->removeOne(path);
        if (!names->isEmpty())
            return;
        namesOf.erase(names);
        ::inotify_rm_watch(inotify, watch);
    }

    // Watches the folder looked at, when the system now will: what changed since the last look is
    // reported, what comes after is heard of.
    bool watchLookedAt(const QByteArray& path, const Facts& seen, Heard& heard) {
        if (!addWatch(path))
            return false;
        if (!(Facts::of(path) == seen))
            heard.changed.append(path);
        lookedAt.remove(path);
        return true;
    }

    void apply(const QSet<QByteArray>& now, Heard& heard) {
        QList<QByteArray> dropped;
        for (auto watch = watchOf.cbegin(); watch != watchOf.cend(); ++watch) {
            if (!now.contains(watch.key()))
                dropped.append(watch.key());
        }
        for (const QByteArray& path : std::as_const(dropped))
            dropName(path);
        lookedAt.removeIf([&now](const auto& folder) { return !now.contains(folder.key()); });
        for (const QByteArray& path : now) {
            if (watchOf.contains(path))
                continue;
            const auto seen = lookedAt.constFind(path);
            if (seen != lookedAt.constEnd()) {
                watchLookedAt(path, *seen, heard);
                continue;
            }
            if (addWatch(path))
                continue;
            heard.refused.append({path, errno});
            lookedAt.insert(path, Facts::of(path));
        }
    }

    void look(Heard& heard) {
        const QList<QByteArray> paths = lookedAt.keys();
        for (const QByteArray& path : paths) {
            Facts& seen = lookedAt[path];
            if (watchLookedAt(path, seen, heard))
                continue;
            const Facts now = Facts::of(path);
            if (now == seen)
                continue;
            heard.changed.append(path);
            seen = now;
        }
    }

    void readEvents(Heard& heard) {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(inotify, buffer, sizeof buffer);
            if (length <= 0)
                return;
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event)) + event->len;
                if (event->mask & IN_Q_OVERFLOW) {
                    for (const QList<QByteArray>& names : std::as_const(namesOf))
                        heard.changed.append(names);
                    continue;
                }
                const auto found = namesOf.constFind(event->wd);
                if (found == namesOf.constEnd())
                    continue;
                heard.changed.append(*found);
                // The folder went (or its watch did): it is looked at until it can be watched
                // again. A folder moved away takes its watch along, and a folder made anew under
                // its name would be watched by nothing.
                if (event->mask & (IN_IGNORED | IN_MOVE_SELF)) {
                    if (event->mask & IN_MOVE_SELF)
                        ::inotify_rm_watch(inotify, event->wd);
                    for (const QByteArray& path : *found) {
                        watchOf.remove(path);
                        lookedAt.insert(path, Facts::of(path));
                    }
                    namesOf.erase(found);
                }
            }
        }
    }

    void run(const Post& post) {
        const auto ended = qScopeGuard([this] {
            const std::lock_guard lock(mutex);
            stopped = true;
        });
        for (;;) {
            pollfd waiting[2] = {{wake, POLLIN, 0}, {inotify, POLLIN, 0}};
            if (::poll(waiting, inotify >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            Heard heard;
            std::optional<quint64> generation;
            std::optional<quint64> looks;
            if (waiting[0].revents != 0) {
                uint64_t count = 0;
                (void)!::read(wake, &count, sizeof count);
                QSet<QByteArray> now;
                std::optional<quint64> sync;
                {
                    const std::lock_guard lock(mutex);
                    if (stopping)
                        return;
                    if (asked != applied) {
                        now = wanted;
                        generation = asked;
                        taken = asked;
                    }
                    if (looksAsked != looksMade)
                        looks = looksAsked;
                    if (syncsAsked != syncsAnswered)
                        sync = syncsAsked;
                }
                // Answered before any new watch is made: that may wait on a silent share.
                if (sync) {
                    Heard answer;
                    if (inotify >= 0)
                        readEvents(answer);
                    answer.synced = sync;
                    for (auto watch = watchOf.cbegin(); watch != watchOf.cend(); ++watch)
                        answer.watched.insert(watch.key());
                    answer.lookedAt = lookedAtPosted;
                    post(std::move(answer));
                    const std::lock_guard lock(mutex);
                    syncsAnswered = *sync;
                }
                if (generation)
                    apply(now, heard);
                if (looks)
                    look(heard);
            }
            if (inotify >= 0 && waiting[1].revents != 0)
                readEvents(heard);
            if (!heard.changed.isEmpty() || !heard.refused.isEmpty() || lookedAt.size() != lookedAtPosted) {
                heard.lookedAt = lookedAtPosted = lookedAt.size();
                post(std::move(heard));
            }
            // Settled only once what it heard is on its way.
            const std::lock_guard lock(mutex);
            if (generation)
                applied = *generation;
            if (looks)
                looksMade = *looks;
        }
    }
};

FolderWatcher::FolderWatcher(UiTimerSource& timers, QObject* parent)
    : FolderWatcher(timers, SystemCalls{}, parent) {}

FolderWatcher::FolderWatcher(UiTimerSource& timers, SystemCalls calls, QObject* parent)
    : QObject(parent), m_timers(&timers), m_engine(std::make_shared<Engine>()) {
    m_engine->calls = std::move(calls);
    m_engine->inotify = m_engine->calls.init ? m_engine->calls.init(IN_CLOEXEC | IN_NONBLOCK)
                                             : ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_engine->inotify < 0) {
        // The per-user limit of instances reached: every folder is looked at instead.
        m_engine->inotifyError = errno;
        Logger::filesystem().error(
            "Cannot watch folders for changes (%s): looking at them every %lld s instead",
            QString::fromLocal8Bit(std::strerror(m_engine->inotifyError)), lookSeconds());
    }
    m_engine->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_engine->wake < 0) {
        Logger::filesystem().error("Cannot watch folders for changes: %s",
                                   QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    std::weak_ptr<const bool> alive = m_alive;
    // What the thread heard and the window's thread has not taken yet, merged: a copy into a
    // folder shown makes thousands of events a second, and each posted alone would wake the
    // window's thread as often, slowing the copy it drives.
    struct Mailbox {
        std::mutex mutex;
        Engine::Heard heard;
        bool posted = false;
    };
    auto mailbox = std::make_shared<Mailbox>();
    Engine::Post post = [alive, this, mailbox](Engine::Heard news) {
        {
            const std::lock_guard lock(mailbox->mutex);
            Engine::Heard& waiting = mailbox->heard;
            for (QByteArray& path : news.changed) {
                if (!waiting.changed.contains(path))
                    waiting.changed.append(std::move(path));
            }
            waiting.refused.append(news.refused);
            waiting.lookedAt = news.lookedAt;
            if (news.synced) {
                waiting.synced = news.synced;
                waiting.watched = std::move(news.watched);
            }
            if (std::exchange(mailbox->posted, true))
                return;
        }
        async::postToMain([alive, this, mailbox] {
            Engine::Heard news;
            {
                const std::lock_guard lock(mailbox->mutex);
                news = std::exchange(mailbox->heard, {});
                mailbox->posted = false;
            }
            if (!alive.lock())
                return;
            heard(news.changed, news.refused, news.lookedAt);
            if (news.synced)
                synced(*news.synced, news.watched);
        });
    };
    m_thread.start([engine = m_engine, post = std::move(post)] { engine->run(post); });
}

FolderWatcher::~FolderWatcher() {
    m_alive.reset();
    if (!m_thread.isStarted())
        return;
    {
        const std::lock_guard lock(m_engine->mutex);
        m_engine->stopping = true;
    }
    m_engine->nudge();
    // A thread still making a watch on a silent share is left to end when the share answers.
    m_thread.finish(std::chrono::milliseconds(50));
}

FolderWatcher::Duration FolderWatcher::quietTime(qsizetype entries) {
    const Duration scaled =
        std::chrono::duration_cast<Duration>(quietTimePerEntry * std::max<qsizetype>(entries, 0));
    return std::max<Duration>(shortestQuietTime, scaled);
}

void FolderWatcher::watch(const QList<URL>& folders) {
    QStringList wanted;
    for (const URL& folder : folders) {
        if (folder.isFileURL() && !wanted.contains(cleanPath(folder)))
            wanted.append(cleanPath(folder));
    }
    // A folder shown again later starts afresh: its changes meanwhile were never seen, and the
    // listing that shows it again reads them.
    m_folders.removeIf([&wanted](const auto& folder) { return !wanted.contains(folder.key()); });
    m_wanted = wanted;
    if (!m_thread.isStarted())
        return;
    QSet<QByteArray> encoded;
    for (const QString& path : std::as_const(wanted))
        encoded.insert(QFile::encodeName(path));
    {
        const std::lock_guard lock(m_engine->mutex);
        m_engine->wanted = std::move(encoded);
        ++m_engine->asked;
    }
    m_engine->nudge();
}

QStringList FolderWatcher::watchedPaths() const {
    return m_wanted;
}

QList<URL> FolderWatcher::watchedFolders() const {
    QList<URL> folders;
    for (const QString& path : m_wanted)
        folders.append(URL::fileURL(path, true));
    return folders;
}

bool FolderWatcher::isSettled() const {
    return threadIsIdle() && m_changedHere.isEmpty();
}

bool FolderWatcher::threadIsIdle() const {
    if (!m_thread.isStarted())
        return true;
    const std::lock_guard lock(m_engine->mutex);
    return m_engine->applied == m_engine->asked && m_engine->looksMade == m_engine->looksAsked;
}

bool FolderWatcher::isMakingWatches() const {
    if (!m_thread.isStarted())
        return false;
    const std::lock_guard lock(m_engine->mutex);
    return m_engine->taken != m_engine->applied;
}

void FolderWatcher::heard(const QList<QByteArray>& changedPaths,
                          const QList<std::pair<QByteArray, int>>& refusedPaths, qsizetype lookedAt) {
    // A folder that is gone, or one the system will not watch (a limit reached), is looked at
    // instead for as long as it is shown.
    for (const auto& [path, error] : refusedPaths) {
        const QString folder = QFile::decodeName(path);
        const QString reason = QString::fromLocal8Bit(std::strerror(error));
        if (error == ENOENT || error == ENOTDIR)
            Logger::filesystem().debug("Not watching %s (%s)", folder, reason);
        else
            Logger::filesystem().info("Cannot watch %s for changes (%s): looking at it every %lld s instead",
                                      folder, reason, lookSeconds());
    }
    m_lookedAt = lookedAt;
    keepLooking();
    for (const QByteArray& path : changedPaths) {
        const QString folder = QFile::decodeName(path);
        // A report that crossed a watch() that dropped the folder.
        if (m_wanted.contains(folder))
            changed(folder);
    }
}

void FolderWatcher::keepLooking() {
    if (m_lookedAt == 0) {
        m_lookTimer.cancel();
        m_lookDue = false;
        return;
    }
    if (m_lookDue)
        return;
    m_lookDue = true;
    m_lookTimer = m_timers->singleShot(lookInterval, [this] {
        m_lookDue = false;
        {
            const std::lock_guard lock(m_engine->mutex);
            ++m_engine->looksAsked;
        }
        m_engine->nudge();
        keepLooking();
    });
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

bool FolderWatcher::changedHere(const QList<URL>& folders) {
    if (!m_thread.isStarted() || !threadIsIdle() || folders.isEmpty())
        return false;
    QStringList paths;
    for (const URL& folder : folders) {
        // A device folder, or one not watched yet: the caller lists it.
        if (!folder.isFileURL() || !m_wanted.contains(cleanPath(folder)))
            return false;
        paths.append(cleanPath(folder));
    }
    quint64 request = 0;
    {
        const std::lock_guard lock(m_engine->mutex);
        if (m_engine->stopped)
            return false;
        request = ++m_engine->syncsAsked;
    }
    m_changedHere.append({request, paths});
    m_engine->nudge();
    return true;
}

void FolderWatcher::synced(quint64 request, const QSet<QByteArray>& watched) {
    const UiTimerSource::Instant now = m_timers->now();
    bool due = false;
    while (!m_changedHere.isEmpty() && m_changedHere.first().first <= request) {
        for (const QString& path : m_changedHere.takeFirst().second) {
            // Shown no more: the listing that shows it again reads the change.
            if (!m_wanted.contains(path))
                continue;
            Folder& folder = m_folders[path];
            // Covered only by a listing that came after every change heard, of a folder whose
            // every change is heard.
            if (!folder.pending && folder.listed && watched.contains(QFile::encodeName(path)))
                continue;
            folder.pending = true;
            folder.due = now;
            due = true;
        }
    }
    if (due)
        report();
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
