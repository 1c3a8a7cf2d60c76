// The real libimobiledevice tools against the emulator: what they print and how they exit.
#include "DeviceTestCase.h"

namespace {
const QString modernUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString legacyUdid = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");

QStringList lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class tst_Tools : public DeviceTestCase {
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

void tst_Tools::listsPluggedDevicesInBothUdidForms() {
    addDevice(describeDevice(modernUdid));
    addDevice(describeDevice(legacyUdid, QStringLiteral("Old iPad")));
    auto result = runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(lines(result.standardOutput), (QStringList{modernUdid, legacyUdid}));
}

void tst_Tools::listFollowsPlugAndUnplug() {
    addDevice(describeDevice(modernUdid));
    emulator().unplug(modernUdid.toStdString());
    QCOMPARE(lines(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).standardOutput),
             QStringList());
    emulator().plug(modernUdid.toStdString());
    QCOMPARE(lines(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).standardOutput),
             QStringList{modernUdid});
}

void tst_Tools::infoPrintsRootDomain() {
    auto description = describeDevice(modernUdid, QStringLiteral("Ada's iPhone"));
    description.values["TimeIntervalSince1970"] = 1717000000.5;
    description.values["PasswordProtected"] = true;
    addDevice(description);
    auto result = runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid});
    QCOMPARE(result.exitCode, 0);
    QStringList out = lines(result.standardOutput);
    for (const QString& line :
         {QStringLiteral("DeviceName: Ada's iPhone"), QStringLiteral("ProductVersion: 17.4"),
          QStringLiteral("ProductType: iPhone15,2"), QStringLiteral("UniqueDeviceID: ") + modernUdid,
          QStringLiteral("TimeIntervalSince1970: 1717000000.500000"),
          QStringLiteral("PasswordProtected: true")}) {
        QVERIFY2(out.contains(line),
                 qPrintable(line + QStringLiteral(" missing from:\n") + result.standardOutput));
    }
}

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

void tst_Tools::nameIsTheDeviceName() {
    addDevice(describeDevice(legacyUdid, QStringLiteral("Bob's iPad")));
    auto result = runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), legacyUdid});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.standardOutput, QStringLiteral("Bob's iPad\n"));
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

void tst_Tools::toolsFailWhenTheEmulatorIsGone() {
    // A second emulator, reached only by the child tools through their own environment: this
    // process's variable stays untouched.
    fakemux::Emulator other;
    auto description = describeDevice(modernUdid);
    other.addDevice(description);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"),
                       QString::fromStdString(other.socketAddress()));
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), modernUdid}, environment).exitCode,
             0);

    other.stop();
    QCOMPARE(runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}, environment).exitCode, 255);
    QCOMPARE(runTool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), modernUdid}, environment).exitCode,
             255);
    QCOMPARE(runTool(QStringLiteral("idevicename"), {QStringLiteral("-u"), modernUdid}, environment).exitCode,
             255);
}

ORVANTA_DEVICE_TEST_MAIN(tst_Tools)
#include "tst_Tools.moc"
