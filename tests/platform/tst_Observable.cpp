// Observable: every assignment reaches every subscriber in assignment order, also when a
// subscriber assigns from inside a notification; subscriptions end with their handle, also
// from inside a notification and also for deliveries already queued.

#include "EventLoop.h"
#include "platform/Observable.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

using Log = std::vector<int>;

void addDeliveryRows() {
    QTest::addColumn<Delivery>("delivery");
    QTest::newRow("direct") << Delivery::Direct;
    QTest::newRow("queued") << Delivery::Queued;
}

} // namespace

class tst_Observable : public QObject {
    Q_OBJECT

private slots:
    void nestedAssignmentKeepsOrderForEverySubscriber_data() { addDeliveryRows(); }

    void nestedAssignmentKeepsOrderForEverySubscriber() {
        QFETCH(Delivery, delivery);
        Observable<int> value(0);
        Log before, after;
        // "before" subscribes ahead of the assigner, "after" behind it: both must see 1 before 2.
        auto first = value.subscribe([&before](const int& v) { before.push_back(v); }, delivery);
        auto assigner = value.subscribe([&value](const int& v) {
            if (v == 1) {
                value = 2;
                value = 3;
            }
        });
        auto last = value.subscribe([&after](const int& v) { after.push_back(v); }, delivery);
        value = 1;
        drainPostedEvents();
        QCOMPARE(before, (Log{0, 1, 2, 3}));
        QCOMPARE(after, (Log{0, 1, 2, 3}));
        QCOMPARE(value.value(), 3);
    }

    void subscriberJoiningDuringNotificationStartsFromNewestValue() {
        Observable<int> value(0);
        Log late;
        Subscription lateSubscription;
        auto joiner = value.subscribe([&](const int& v) {
            if (v == 1) {
                value = 2;
                lateSubscription = value.subscribe([&late](const int& w) { late.push_back(w); });
            }
        });
        value = 1;
        value = 3;
        QCOMPARE(late, (Log{2, 3}));
    }

    void unsubscribingDuringNotificationIsSafe() {
        Observable<int> value(0);
        Log seen;
        auto victim = std::make_unique<Subscription>();
        Subscription self;
        auto killer = value.subscribe([&](const int& v) {
            if (v == 1) {
                victim.reset(); // another subscriber, not yet notified of 1
                self.cancel();  // and the one running right now
            }
        });
        self = value.subscribe([](const int&) {});
        *victim = value.subscribe([&seen](const int& v) { seen.push_back(v); });
        value = 1;
        value = 2;
        QCOMPARE(seen, (Log{0}));
        QCOMPARE(value.subscriberCount(), 1);
    }

    void endedSubscriptionDropsQueuedDelivery() {
        Observable<int> value(0);
        Log seen;
        auto subscription = value.subscribe([&seen](const int& v) { seen.push_back(v); }, Delivery::Queued);
        value = 1;
        subscription = Subscription(); // ends before the queued deliveries run
        drainPostedEvents();
        QVERIFY(seen.empty());
    }

    void subscriptionMayOutliveItsObservable() {
        Subscription subscription;
        {
            Observable<int> value(0);
            subscription = value.subscribe([](const int&) {}, Delivery::Queued);
            value = 1;
        }
        drainPostedEvents();
        subscription.cancel();
        QVERIFY(!subscription.isActive());
    }
};

QTEST_GUILESS_MAIN(tst_Observable)
#include "tst_Observable.moc"
