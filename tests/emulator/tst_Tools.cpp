// The real libimobiledevice tools against the emulator: what they print and how they exit. Listing,
// the root domain and names are read through IMobileDeviceBridge in its own test.
#include "DeviceTestCase.h"

namespace {
const QString modernUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");

QStringList lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class tst_Tools : public DeviceTestCase {
    Q_OBJECT
private slots:
    void batteryCapacityInRootOnlyWhenAsked_data();
    void batteryCapacityInRootOnlyWhenAsked();
    void infoPrintsOneDomainAndOneKey();
    void toolsFailAsTheLibraryMakesThem_data();
    void toolsFailAsTheLibraryMakesThem();
    void missingValuePrintsNothing();
    void sessionIsStoppedAfterEachTool();
};

void tst_Tools::batteryCapacityInRootOnlyWhenAsked_data() {
    QTest::addColumn<bool>("inRoot");
    QTest::newRow("battery domain only, as a real device") << false;
    QTest::newRow("also in the root dictionary") << true;
}

void tst_Tools::batteryCapacityInRootOnlyWhenAsked() {
    QFETCH(bool, inRoot);
    auto description = describeDevice(modernUdid);
    description.batteryCapacityInRoot = inRoot;
    addDevice(description);
    auto out =
        lines(runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid}).standardOutput);
    QCOMPARE(out.contains(QStringLiteral("BatteryCurrentCapacity: 87")), inRoot);
}

void tst_Tools::infoPrintsOneDomainAndOneKey() {
    addDevice(describeDevice(modernUdid));
    auto battery =
        runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid, QStringLiteral("-q"),
                                                QStringLiteral("com.apple.mobile.battery")});
    QCOMPARE(battery.exitCode, 0);
    QVERIFY(lines(battery.standardOutput).contains(QStringLiteral("BatteryCurrentCapacity: 87")));
    QVERIFY(lines(battery.standardOutput).contains(QStringLiteral("BatteryIsCharging: true")));

    auto key = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid, QStringLiteral("-k"),
                                                       QStringLiteral("ProductType")});
    QCOMPARE(key.exitCode, 0);
    QCOMPARE(key.standardOutput, QStringLiteral("iPhone15,2\n"));
}

void tst_Tools::toolsFailAsTheLibraryMakesThem_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("infoExit");
    QTest::addColumn<int>("nameExit");
    // A locked device still answers lockdown queries; only file services need it unlocked.
    QTest::newRow("locked") << "locked" << 0 << 0;
    QTest::newRow("missing") << "missing" << 255 << 255;
    QTest::newRow("unplugged") << "unplugged" << 255 << 255;
    QTest::newRow("unpaired, pairing refused") << "PairingDialogResponsePending" << 255 << 255;
    QTest::newRow("unpaired, pairing accepted") << "unpaired" << 0 << 0;
}

void tst_Tools::toolsFailAsTheLibraryMakesThem() {
    QFETCH(QString, fault);
    QFETCH(int, infoExit);
    QFETCH(int, nameExit);
    if (fault != QLatin1String("missing")) {
        auto& device = addDevice(describeDevice(modernUdid));
        if (fault == QLatin1String("locked"))
            device.faults().setLocked(true);
        else if (fault == QLatin1String("unplugged"))
            device.unplug();
        else if (fault == QLatin1String("unpaired"))
            device.forgetPairRecord();
        else
            device.faults().refusePairing(fault.toStdString());
    }
    QCOMPARE(runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid}).exitCode, infoExit);
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), modernUdid}).exitCode, nameExit);
}

void tst_Tools::missingValuePrintsNothing() {
    auto& device = addDevice(describeDevice(modernUdid));
    device.faults().hideValue("ProductType");
    auto key = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid, QStringLiteral("-k"),
                                                       QStringLiteral("ProductType")});
    QCOMPARE(key.exitCode, 0);
    QCOMPARE(key.standardOutput, QString());
    auto all = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid});
    QVERIFY(!all.standardOutput.contains(QLatin1String("ProductType")));
    QVERIFY(all.standardOutput.contains(QLatin1String("DeviceName")));
}

void tst_Tools::sessionIsStoppedAfterEachTool() {
    addDevice(describeDevice(modernUdid));
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), modernUdid}).exitCode, 0);
    auto& log = emulator().log();
    QCOMPARE(log.count("lockdownd", "StartSession"), size_t(1));
    QCOMPARE(log.count("lockdownd", "StopSession"), size_t(1));
}

ORVANTA_DEVICE_TEST_MAIN(tst_Tools)
#include "tst_Tools.moc"
