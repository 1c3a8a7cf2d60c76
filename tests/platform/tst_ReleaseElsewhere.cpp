// Big data let go by the window's thread is freed on another thread, and only once nobody else
// holds it: what another owner still shares must live on.

#include "platform/async/ReleaseElsewhere.h"

#include <QtTest>

#include <future>
#include <memory>
#include <thread>

namespace {

// Says on which thread it ended.
struct Witness {
    std::shared_ptr<std::promise<std::thread::id>> ended;
    explicit Witness(std::shared_ptr<std::promise<std::thread::id>> promise) : ended(std::move(promise)) {}
    Witness(Witness&& other) noexcept = default;
    ~Witness() {
        if (ended)
            ended->set_value(std::this_thread::get_id());
    }
};

} // namespace

class tst_ReleaseElsewhere : public QObject {
    Q_OBJECT

private slots:
    void freesOnAnotherThread() {
        auto promise = std::make_shared<std::promise<std::thread::id>>();
        std::future<std::thread::id> ended = promise->get_future();
        async::releaseElsewhere(Witness(std::move(promise)));
        QVERIFY(ended.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
        QVERIFY(ended.get() != std::this_thread::get_id());
    }

    void sharedDataOutlivesTheRelease() {
        QList<QString> kept{QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0002.JPG")};
        QList<QString> handedOver = kept;
        // Queued behind the list: once it has ended, the list has been let go.
        auto promise = std::make_shared<std::promise<std::thread::id>>();
        std::future<std::thread::id> ended = promise->get_future();
        async::releaseElsewhere(std::move(handedOver), Witness(std::move(promise)));
        QVERIFY(ended.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept.last(), QStringLiteral("IMG_0002.JPG"));
    }
};

QTEST_GUILESS_MAIN(tst_ReleaseElsewhere)
#include "tst_ReleaseElsewhere.moc"
