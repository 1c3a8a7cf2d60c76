#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QTest>

#include <optional>

// Posts reach exactly the observers of their name while their subscriptions last, also when an
// observer ends its own or another's subscription while it is told.
class tst_NotificationCenter : public QObject {
    Q_OBJECT

private slots:
    void observerMayEndSubscriptionsWhileTold() {
        NotificationCenter center;
        int first = 0;
        int second = 0;
        std::optional<Subscription> other;
        Subscription self = center.observe(QStringLiteral("n"), [&](const Notification&) {
            ++first;
            other.reset();
        });
        other = center.observe(QStringLiteral("n"), [&](const Notification&) { ++second; });
        center.post({QStringLiteral("n"), {}});
        center.post({QStringLiteral("n"), {}});
        QCOMPARE(first, 2);
        QCOMPARE(second, 0);
    }
};

QTEST_GUILESS_MAIN(tst_NotificationCenter)
#include "tst_NotificationCenter.moc"
