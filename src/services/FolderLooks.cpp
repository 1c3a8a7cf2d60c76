#include "services/FolderLooks.h"

#include "platform/async/Continuation.h"

#include <QFile>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <utility>

struct FolderLooks::Shared {
    struct Request {
        QStringList paths;
        // Encoded on the main thread: the thread left behind must not need the program's locale.
        QList<QByteArray> encoded;
        QList<async::Continuation<Answers>> waiters;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Request> waiting;
    // Those waiting for the request being looked at.
    QList<async::Continuation<Answers>> looking;
    bool isLooking = false;
    bool stopping = false;

    void run() {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || waiting; });
                if (stopping)
                    return;
                request = std::move(*waiting);
                waiting.reset();
                looking = std::move(request.waiters);
                isLooking = true;
            }
            Answers answers;
            for (qsizetype i = 0; i < request.paths.size(); ++i) {
                struct stat facts {};
                const bool folder =
                    ::stat(request.encoded[i].constData(), &facts) == 0 && S_ISDIR(facts.st_mode);
                answers.insert(request.paths[i], folder);
            }
            QList<async::Continuation<Answers>> waiters;
            {
                const std::lock_guard lock(mutex);
                // The owner ended meanwhile, and cancelled them.
                if (stopping)
                    return;
                waiters = std::exchange(looking, {});
                isLooking = false;
            }
            for (const async::Continuation<Answers>& waiter : waiters)
                waiter.resume(answers);
        }
    }
};

namespace {

// Main thread only, as the looks' answers are delivered there.
FolderLooks::Answers& latestAnswers() {
    static FolderLooks::Answers answers;
    return answers;
}

} // namespace

FolderLooks::FolderLooks() : m_shared(std::make_shared<Shared>()) {}

FolderLooks::~FolderLooks() {
    QList<async::Continuation<Answers>> cancelled;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
        cancelled = std::exchange(m_shared->looking, {});
        if (m_shared->waiting)
            cancelled += m_shared->waiting->waiters;
        m_shared->waiting.reset();
    }
    m_shared->wake.notify_all();
    // Nobody waits for a look that a silent share holds: its waiters end now, as those of
    // requests not started do.
    for (const async::Continuation<Answers>& waiter : cancelled)
        waiter.resumeThrowing(async::CancelledError{});
    // A look that answers ends the thread at once; one that waits on a silent share is left.
    m_thread.finish(std::chrono::milliseconds(50));
}

bool FolderLooks::isLooking() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->isLooking;
}

async::Task<FolderLooks::Answers> FolderLooks::look(QStringList paths) {
    if (!m_thread.isStarted())
        m_thread.start([shared = m_shared] { shared->run(); });
    const auto ask = [this, &paths](async::Continuation<Answers> continuation) {
        {
            const std::lock_guard lock(m_shared->mutex);
            if (!m_shared->waiting)
                m_shared->waiting.emplace();
            Shared::Request& request = *m_shared->waiting;
            for (const QString& path : paths) {
                if (request.paths.contains(path))
                    continue;
                request.paths.append(path);
                request.encoded.append(QFile::encodeName(path));
            }
            request.waiters.append(std::move(continuation));
        }
        m_shared->wake.notify_one();
    };
    Answers answers = co_await async::withContinuation<Answers>(ask);
    latestAnswers().insert(answers);
    co_return answers;
}

std::optional<bool> FolderLooks::latest(const QString& path) {
    const auto found = latestAnswers().constFind(path);
    if (found == latestAnswers().constEnd())
        return std::nullopt;
    return *found;
}
