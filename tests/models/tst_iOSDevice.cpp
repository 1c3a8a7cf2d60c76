#include "models/iOSDevice.h"

#include <QSet>
#include <QTest>

#include <functional>

namespace {

iOSDevice phone() {
    return iOSDevice(QStringLiteral("00008110-001A2B3C4D5E6F70"), QStringLiteral("00008110-001A2B3C4D5E6F70"),
                     QStringLiteral("Kari's iPhone"), QStringLiteral("iPhone 14"),
                     QStringLiteral("iPhone14,7"), QStringLiteral("17.2"), 50, true, false);
}

} // namespace

class tst_iOSDevice : public QObject {
    Q_OBJECT

private slots:
    void everyFieldTakesPart_data();
    void everyFieldTakesPart();
};

void tst_iOSDevice::everyFieldTakesPart_data() {
    QTest::addColumn<std::function<void(iOSDevice&)>>("change");

    QTest::newRow("name") << std::function<void(iOSDevice&)>(
        [](iOSDevice& d) { d.setName(QStringLiteral("iPad")); });
    QTest::newRow("battery absent") << std::function<void(iOSDevice&)>(
        [](iOSDevice& d) { d.setBatteryLevel(std::nullopt); });
    QTest::newRow("battery 0") << std::function<void(iOSDevice&)>([](iOSDevice& d) { d.setBatteryLevel(0); });
    QTest::newRow("afc connected") << std::function<void(iOSDevice&)>(
        [](iOSDevice& d) { d.setIsAFCConnected(true); });
    QTest::newRow("version") << std::function<void(iOSDevice&)>(
        [](iOSDevice& d) { d.setIosVersion(QStringLiteral("17.3")); });
}

void tst_iOSDevice::everyFieldTakesPart() {
    // Subscribers of the device list see a change only because the changed record is unequal.
    QFETCH(std::function<void(iOSDevice&)>, change);
    iOSDevice changed = phone();
    change(changed);
    QVERIFY(!(changed == phone()));
    QCOMPARE(phone(), phone());
    QCOMPARE(qHash(phone()), qHash(phone()));
    QCOMPARE((QSet<iOSDevice>{phone(), changed}).size(), 2);
}

QTEST_GUILESS_MAIN(tst_iOSDevice)
#include "tst_iOSDevice.moc"
