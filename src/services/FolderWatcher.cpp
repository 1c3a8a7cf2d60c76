#include "services/FolderWatcher.h"

#include "platform/Logger.h"
#include "platform/async/MainThread.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
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

} // namespace

// The watches and the thread that makes them and reads their events. Paths travel encoded, so
// that a thread left behind on a silent share needs nothing of the program's but its own state.
struct FolderWatcher::Engine {
    using Post = std::function<void(QList<QByteArray> changed, QList<QByteArray> refused)>;

    int inotify = -1;
    int wake = -1; // an eventfd: the wanted folders changed, or the watcher ends
    std::mutex mutex;
    QSet<QByteArray> wanted;
    quint64 asked = 0;
    quint64 taken = 0;
    quint64 applied = 0;
    bool stopping = false;

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

    // The thread's own state. The system keeps one watch per folder however many names it was
    // asked under (a link, a bind mount): each name keeps the watch it shares, and the watch goes
    // with the last of them.
    QHash<QByteArray, int> watchOf;
    QHash<int, QList<QByteArray>> namesOf;

    bool addWatch(const QByteArray& path) {
        // Looks the folder up: on a silent share, this is where the thread waits.
        const int watch = ::inotify_add_watch(inotify, path.constData(), folderEvents);
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

    void run(const Post& post) {
        QSet<QByteArray> refusedBefore;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd waiting[2] = {{inotify, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(waiting, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (waiting[1].revents != 0) {
                uint64_t count = 0;
                (void)!::read(wake, &count, sizeof count);
                QSet<QByteArray> now;
                quint64 generation = 0;
                {
                    const std::lock_guard lock(mutex);
                    if (stopping)
                        return;
                    now = wanted;
                    generation = asked;
                    taken = generation;
                }
                QList<QByteArray> dropped;
                for (auto watch = watchOf.cbegin(); watch != watchOf.cend(); ++watch) {
                    if (!now.contains(watch.key()))
                        dropped.append(watch.key());
                }
                for (const QByteArray& path : std::as_const(dropped))
                    dropName(path);
                QList<QByteArray> refused;
                for (const QByteArray& path : std::as_const(now)) {
                    if (!watchOf.contains(path) && !addWatch(path) && !refusedBefore.contains(path))
                        refused.append(path);
                }
                refusedBefore = now - QSet<QByteArray>(watchOf.keyBegin(), watchOf.keyEnd());
                {
                    const std::lock_guard lock(mutex);
                    applied = generation;
                }
                if (!refused.isEmpty())
                    post({}, refused);
            }
            if (waiting[0].revents == 0)
                continue;
            QList<QByteArray> changed;
            for (;;) {
                const ssize_t length = ::read(inotify, buffer, sizeof buffer);
                if (length <= 0)
                    break;
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += ssize_t(sizeof(inotify_event)) + event->len;
                    if (event->mask & IN_Q_OVERFLOW) {
                        for (const QList<QByteArray>& names : std::as_const(namesOf))
                            changed.append(names);
                        continue;
                    }
                    const auto found = namesOf.constFind(event->wd);
                    if (found == namesOf.constEnd())
                        continue;
                    changed.append(*found);
                    // The folder went (or its watch did): it is watched again when it is back
                    // and asked for.
                    if (event->mask & IN_IGNORED) {
                        for (const QByteArray& path : *found)
                            watchOf.remove(path);
                        namesOf.erase(found);
                    }
                }
            }
            if (!changed.isEmpty())
                post(changed, {});
        }
    }
};

FolderWatcher::FolderWatcher(UiTimerSource& timers, QObject* parent)
    : QObject(parent), m_timers(&timers), m_engine(std::make_shared<Engine>()) {
    m_engine->inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    m_engine->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_engine->inotify < 0 || m_engine->wake < 0) {
        Logger::filesystem().error("Cannot watch folders for changes: %s",
                                   QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    std::weak_ptr<const bool> alive = m_alive;
    Engine::Post post = [alive, this](QList<QByteArray> changed, QList<QByteArray> refused) {
        async::postToMain([alive, this, changed = std::move(changed), refused = std::move(refused)] {
            if (alive.lock())
                heard(changed, refused);
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
    if (!m_thread.isStarted())
        return true;
    const std::lock_guard lock(m_engine->mutex);
    return m_engine->applied == m_engine->asked;
}

bool FolderWatcher::isMakingWatches() const {
    if (!m_thread.isStarted())
        return false;
    const std::lock_guard lock(m_engine->mutex);
    return m_engine->taken != m_engine->applied;
}

void FolderWatcher::heard(const QList<QByteArray>& changedPaths, const QList<QByteArray>& refusedPaths) {
    // A folder that is gone, or one the system will not watch (its limit reached), is still
    // listed when shown; only changes made while it is shown go unnoticed.
    for (const QByteArray& path : refusedPaths)
        Logger::filesystem().debug("Not watching %s", QFile::decodeName(path));
    for (const QByteArray& path : changedPaths) {
        const QString folder = QFile::decodeName(path);
        // A report that crossed a watch() that dropped the folder.
        if (m_wanted.contains(folder))
            changed(folder);
    }
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
