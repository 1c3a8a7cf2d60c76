// The real libimobiledevice tools against the emulator: what they print and how they exit.
#include "DeviceTestCase.h"

namespace {
const QString kModernUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString kLegacyUdid = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");

QStringList lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestTools : public DeviceTestCase {
    Q_OBJECT
private slots:
    void listsPluggedDevicesInBothUdidForms();
    void listFollowsPlugAndUnplug();
    void infoPrintsRootDomain();
    void batteryCapacityInRootOnlyWhenAsked_data();
    void batteryCapacityInRootOnlyWhenAsked();
    void infoPrintsOneDomainAndOneKey();
    void nameIsTheDeviceName();
    void toolsFailAsTheLibraryMakesThem_data();
    void toolsFailAsTheLibraryMakesThem();
    void missingValuePrintsNothing();
    void sessionIsStoppedAfterEachTool();
    void toolsFailWhenTheEmulatorIsGone();
};

void TestTools::listsPluggedDevicesInBothUdidForms() {
    addDevice(describeDevice(kModernUdid));
    addDevice(describeDevice(kLegacyUdid, QStringLiteral("Old iPad")));
    auto result = runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(lines(result.standardOutput), (QStringList{kModernUdid, kLegacyUdid}));
}

void TestTools::listFollowsPlugAndUnplug() {
    addDevice(describeDevice(kModernUdid));
    emulator().unplug(kModernUdid.toStdString());
    QCOMPARE(lines(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).standardOutput),
             QStringList());
    emulator().plug(kModernUdid.toStdString());
    QCOMPARE(lines(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).standardOutput),
             QStringList{kModernUdid});
}

void TestTools::infoPrintsRootDomain() {
    auto description = describeDevice(kModernUdid, QStringLiteral("Ada's iPhone"));
    description.values["TimeIntervalSince1970"] = 1717000000.5;
    description.values["PasswordProtected"] = true;
    addDevice(description);
    auto result = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid});
    QCOMPARE(result.exitCode, 0);
    QStringList out = lines(result.standardOutput);
    for (const QString& line :
         {QStringLiteral("DeviceName: Ada's iPhone"), QStringLiteral("ProductVersion: 17.4"),
          QStringLiteral("ProductType: iPhone15,2"), QStringLiteral("UniqueDeviceID: ") + kModernUdid,
          QStringLiteral("TimeIntervalSince1970: 1717000000.500000"),
          QStringLiteral("PasswordProtected: true")}) {
        QVERIFY2(out.contains(line),
                 qPrintable(line + QStringLiteral(" missing from:\n") + result.standardOutput));
    }
}

void TestTools::batteryCapacityInRootOnlyWhenAsked_data() {
    QTest::addColumn<bool>("inRoot");
    QTest::newRow("battery domain only, as a real device") << false;
    QTest::newRow("also in the root dictionary") << true;
}

void TestTools::batteryCapacityInRootOnlyWhenAsked() {
    QFETCH(bool, inRoot);
    auto description = describeDevice(kModernUdid);
    description.batteryCapacityInRoot = inRoot;
    addDevice(description);
    auto out =
        lines(runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid}).standardOutput);
    QCOMPARE(out.contains(QStringLiteral("BatteryCurrentCapacity: 87")), inRoot);
}

void TestTools::infoPrintsOneDomainAndOneKey() {
    addDevice(describeDevice(kModernUdid));
    auto battery =
        runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid, QStringLiteral("-q"),
                                                QStringLiteral("com.apple.mobile.battery")});
    QCOMPARE(battery.exitCode, 0);
    QVERIFY(lines(battery.standardOutput).contains(QStringLiteral("BatteryCurrentCapacity: 87")));
    QVERIFY(lines(battery.standardOutput).contains(QStringLiteral("BatteryIsCharging: true")));

    auto key = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid,
                                                       QStringLiteral("-k"), QStringLiteral("ProductType")});
    QCOMPARE(key.exitCode, 0);
    QCOMPARE(key.standardOutput, QStringLiteral("iPhone15,2\n"));
}

void TestTools::nameIsTheDeviceName() {
    addDevice(describeDevice(kLegacyUdid, QStringLiteral("Bob's iPad")));
    auto result = runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), kLegacyUdid});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.standardOutput, QStringLiteral("Bob's iPad\n"));
}

void TestTools::toolsFailAsTheLibraryMakesThem_data() {
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

void TestTools::toolsFailAsTheLibraryMakesThem() {
    QFETCH(QString, fault);
    QFETCH(int, infoExit);
    QFETCH(int, nameExit);
    if (fault != QLatin1String("missing")) {
        auto& device = addDevice(describeDevice(kModernUdid));
        if (fault == QLatin1String("locked"))
            device.faults().setLocked(true);
        else if (fault == QLatin1String("unplugged"))
            device.unplug();
        else if (fault == QLatin1String("unpaired"))
            device.forgetPairRecord();
        else
            device.faults().refusePairing(fault.toStdString());
    }
    QCOMPARE(runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid}).exitCode, infoExit);
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), kModernUdid}).exitCode, nameExit);
}

void TestTools::missingValuePrintsNothing() {
    auto& device = addDevice(describeDevice(kModernUdid));
    device.faults().hideValue("ProductType");
    auto key = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid,
                                                       QStringLiteral("-k"), QStringLiteral("ProductType")});
    QCOMPARE(key.exitCode, 0);
    QCOMPARE(key.standardOutput, QString());
    auto all = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid});
    QVERIFY(!all.standardOutput.contains(QLatin1String("ProductType")));
    QVERIFY(all.standardOutput.contains(QLatin1String("DeviceName")));
}

void TestTools::sessionIsStoppedAfterEachTool() {
    addDevice(describeDevice(kModernUdid));
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), kModernUdid}).exitCode, 0);
    auto& log = emulator().log();
    QCOMPARE(log.count("lockdownd", "StartSession"), size_t(1));
    QCOMPARE(log.count("lockdownd", "StopSession"), size_t(1));
}

void TestTools::toolsFailWhenTheEmulatorIsGone() {
    // A second emulator, reached only by the child tools through their own environment: this
    // process's variable stays untouched.
    fakemux::Emulator other;
    auto description = describeDevice(kModernUdid);
    other.addDevice(description);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"),
                       QString::fromStdString(other.socketAddress()));
    QCOMPARE(
        runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), kModernUdid}, environment).exitCode, 0);

    other.stop();
    QCOMPARE(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}, environment).exitCode, 255);
    QCOMPARE(
        runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), kModernUdid}, environment).exitCode,
        255);
    QCOMPARE(
        runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), kModernUdid}, environment).exitCode,
        255);
}

ORVANTA_DEVICE_TEST_MAIN(TestTools)
#include "tst_Tools.moc"
