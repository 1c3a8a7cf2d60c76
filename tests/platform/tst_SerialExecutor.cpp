// The executor's promises to its actors: jobs run one at a time in the order they were queued,
// off the main thread; results and exceptions (with their own types) come back to the main
// thread; shutting down never leaves a waiter hanging, nor waits for a job that does not end
// where the executor may leave it.

#include "platform/LeavableThread.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"
#include "platform/async/RunSync.h"
#include "platform/async/SerialExecutor.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace async;

namespace {

// Not a std::exception: the type itself must survive the crossing, not a what() text.
struct DeviceFault {
    int code;
};

struct RecordingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns the order in which the jobs ran, then the results in the order they were awaited.
Task<std::vector<int>> runMany(SerialExecutor* executor, int count) {
    std::vector<Task<int>> tasks;
    auto seen = std::make_shared<std::vector<int>>();
    for (int i = 0; i < count; ++i) {
        tasks.push_back(executor->run([seen, i] {
            seen->push_back(i); // only the executor thread touches it
            return i;
        }));
    }
    std::vector<int> results;
    for (auto& task : tasks) {
        results.push_back(co_await task);
    }
    // Every job has run now, so the main thread may read what they recorded.
    std::vector<int> order = *seen;
    order.insert(order.end(), results.begin(), results.end());
    co_return order;
}

// One actor operation: several jobs on the shared executor, awaited one after the other. Every
// job notes whether another job was running at the same time or it ran on the main thread, and
// every resumption notes whether it came back on the main thread.
struct Trace {
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> ranOnMain{false};
    std::vector<QString> jobs; // appended by jobs only, read after both operations ended
    bool resumedOffMain = false;
};

Task<void> operation(SerialExecutor* executor, QString name, int steps, std::shared_ptr<Trace> trace) {
    for (int step = 0; step < steps; ++step) {
        // A named local, not a closure inside the co_await operand: g++ 12 destroys such a
        // temporary twice.
        auto job = [trace, name, step] {
            if (trace->running.fetch_add(1) != 0) {
                trace->overlapped = true;
            }
            if (isMainThread()) {
                trace->ranOnMain = true;
            }
            trace->jobs.push_back(name + QString::number(step));
            trace->running.fetch_sub(1);
        };
        co_await executor->run(std::move(job));
        if (!isMainThread()) {
            trace->resumedOffMain = true;
        }
    }
}

Task<void> bothOperations(SerialExecutor* executor, std::shared_ptr<Trace> trace) {
    // Started in this order, each in a named local (tasks start eagerly and g++ evaluates
    // arguments right to left): a queues its first job before b does.
    Task<void> a = operation(executor, QStringLiteral("a"), 3, trace);
    Task<void> b = operation(executor, QStringLiteral("b"), 3, trace);
    co_await a;
    co_await b;
}

} // namespace

class tst_SerialExecutor : public QObject {
    Q_OBJECT

private slots:
    void threadStartsWithTheFirstJob() {
        // Actors made at start-up that have nothing to do yet cost no thread.
        const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
        const qsizetype before = threads();
        {
            SerialExecutor idle;
            SerialExecutor busy;
            QCOMPARE(threads(), before);
            QVERIFY(!busy.isCurrent());
            std::promise<bool> current;
            busy.post([&busy, &current] { current.set_value(busy.isCurrent()); });
            QVERIFY(current.get_future().get());
            QCOMPARE(threads(), before + 1);
            QVERIFY(!busy.isCurrent());
        }
    }

    void keepsFifoOrderAcrossManyJobs() {
        SerialExecutor executor;
        const auto order = runSync(runMany(&executor, 500));
        std::vector<int> expected(500);
        std::iota(expected.begin(), expected.end(), 0);
        expected.insert(expected.end(), expected.begin(), expected.end());
        QCOMPARE(order, expected);
    }

    void operationsInterleaveAtTheirAwaits() {
        // An actor is re-entrant at its awaits: while one operation waits for its job, the next
        // operation's job runs, yet no two jobs ever run at once.
        SerialExecutor executor;
        auto trace = std::make_shared<Trace>();
        runSync(bothOperations(&executor, trace));
        QVERIFY(!trace->overlapped);
        QVERIFY(!trace->ranOnMain);
        QVERIFY(!trace->resumedOffMain);
        // Both first jobs were queued before either operation resumed; after that, how the
        // two interleave depends on thread timing, but each keeps its own order.
        QCOMPARE(trace->jobs.size(), size_t(6));
        QCOMPARE(trace->jobs[0], QStringLiteral("a0"));
        QCOMPARE(trace->jobs[1], QStringLiteral("b0"));
        for (const QString& name : QStringList{"a", "b"}) {
            QStringList own;
            for (const QString& job : trace->jobs) {
                if (job.startsWith(name)) {
                    own.append(job);
                }
            }
            QCOMPARE(own, QStringList({name + "0", name + "1", name + "2"}));
        }
    }

    void exceptionKeepsItsType_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("std::exception subclass") << 0;
        QTest::newRow("plain struct") << 1;
        QTest::newRow("cancellation") << 2;
    }

    void exceptionKeepsItsType() {
        QFETCH(int, kind);
        SerialExecutor executor;
        auto task = executor.run([kind]() -> int {
            if (kind == 0) {
                throw RecordingError("disk full");
            }
            if (kind == 1) {
                throw DeviceFault{42};
            }
            throw CancelledError{};
        });
        try {
            runSync(std::move(task));
            QFAIL("no exception");
        } catch (const RecordingError& e) {
            QCOMPARE(kind, 0);
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("disk full"));
        } catch (const DeviceFault& e) {
            QCOMPARE(kind, 1);
            QCOMPARE(e.code, 42);
        } catch (const CancelledError&) {
            QCOMPARE(kind, 2);
        }
    }

    void failingPostedJobDoesNotStopTheExecutor() {
        SerialExecutor executor;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("a posted job failed: boom"));
        executor.post([] { throw std::runtime_error("boom"); });
        auto task = executor.run([] { return 1; });
        QCOMPARE(runSync(std::move(task)), 1);
    }

    void stoppingEndsRunningJobAndDropsQueued_data() {
        QTest::addColumn<bool>("destroy"); // else stop() and go on using the executor
        QTest::newRow("destroyed") << true;
        QTest::newRow("stopped") << false;
    }

    void stoppingEndsRunningJobAndDropsQueued() {
        QFETCH(bool, destroy);
        // The first job holds the executor until it is told to stop, so the second is still
        // queued when that happens.
        auto executor = std::make_unique<SerialExecutor>();
        std::stop_token shutdown = executor->shutdownToken();
        std::promise<void> started;
        auto blocker = executor->run([shutdown, &started] {
            started.set_value();
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait(lock, shutdown, [] { return false; });
            return 1;
        });
        auto queued = executor->run([] { return 2; });
        started.get_future().wait();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("destroyed without being resumed"));
        if (destroy)
            executor.reset(); // the running job ends, the queued one is dropped, the thread joined
        else
            executor->stop(); // the same, without waiting, and the executor stays usable

        QCOMPARE(runSync(std::move(blocker)), 1);
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(queued)));
        if (!destroy) {
            // A job queued afterwards still runs, and sees that its owner has stopped.
            auto cleanup = executor->run([shutdown] { return shutdown.stop_requested() ? 3 : 0; });
            QCOMPARE(runSync(std::move(cleanup)), 3);
        }
    }

    void aStuckJobIsLeftToItsThread_data() {
        QTest::addColumn<bool>("destroy"); // else quitting leaves it, and the executor goes on
        QTest::newRow("the owner ends") << true;
        QTest::newRow("quitting") << false;
    }

    // A leavable executor's job that does not end (a look at a share gone silent) holds neither
    // its owner's end nor a quit: its waiter is cancelled, queued jobs are dropped, its thread is
    // left and ends on its own once the job returns, and its late answer goes nowhere.
    void aStuckJobIsLeftToItsThread() {
        QFETCH(bool, destroy);
        const int leftBefore = LeavableThread::leftRunning();
        auto executor = std::make_unique<SerialExecutor>(QStringLiteral("looks"),
                                                         SerialExecutor::Leavable{std::chrono::milliseconds(1)});
        auto release = std::make_shared<std::promise<void>>();
        auto started = std::make_shared<std::promise<void>>();
        auto stuck = executor->run([released = release->get_future().share(), started] {
            started->set_value();
            released.wait();
            return 1;
        });
        auto queued = executor->run([] { return 2; });
        started->get_future().wait();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("destroyed without being resumed"));
        if (destroy)
            executor.reset();
        else
            SerialExecutor::leaveRunningJobs();
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(stuck)));
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(queued)));
        QCOMPARE(LeavableThread::leftRunning(), leftBefore + 1);
        if (!destroy) {
            // Later jobs do not wait behind the stuck one.
            auto later = executor->run([] { return 3; });
            QCOMPARE(runSync(std::move(later)), 3);
        }
        release->set_value();
        QVERIFY(LeavableThread::waitForLeft(std::chrono::seconds(20)));
        QCOMPARE(LeavableThread::leftRunning(), leftBefore);
        executor.reset();
        // The late answer was dropped quietly: nothing more reaches the main loop.
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(tst_SerialExecutor)
#include "tst_SerialExecutor.moc"
