// IMobileDeviceBridge: the real libimobiledevice tools against the emulator, and the parsing
// rules against fake tools that print exactly what a case needs.

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TaskFailure.h"
#include "device/BridgeError.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/async/RunSync.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace {

const QString kBridge = QStringLiteral("io.halvorn.orvanta.bridge");
const QString kModernUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString kLegacyUdid = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");

using DeviceInfo = QMap<QString, QString>;

} // namespace

class TestIMobileDeviceBridge : public DeviceTestCase {
    Q_OBJECT

private slots:
    // The real tools through the emulator.
    void listsAttachedDevicesInBothUdidForms();
    void deviceInfoReadsWhatTheDeviceReports();
    void deviceInfoOfAnUnknownDeviceFails();
    void deviceNameOfANamedDevice();
    void deviceNameOfAMissingDeviceIsUnknown();

    // Fake tools in the helpers folder.
    void udidListParsing_data();
    void udidListParsing();
    void failingUdidListIsEmptyAndLogged();
    void deviceInfoParsing_data();
    void deviceInfoParsing();
    void deviceNameParsing_data();
    void deviceNameParsing();

private:
    // A bridge whose helpers folder is empty, so that the installed tools are the ones run.
    IMobileDeviceBridge realToolsBridge() {
        return IMobileDeviceBridge(
            std::make_shared<ProcessRunner>(URL::fileURL(scratchPath(QStringLiteral("no-helpers")), true)));
    }

    // A bridge whose helpers folder holds a fake tool that prints output and exits with status.
    IMobileDeviceBridge fakeToolBridge(const QString& tool, const QByteArray& output, int status = 0,
                                       const QByteArray& errorOutput = QByteArray()) {
        const QString folder = scratchPath(QStringLiteral("helpers"));
        const QString base = QDir(folder).filePath(tool);
        writeFile(base + QStringLiteral(".out"), output);
        writeFile(base + QStringLiteral(".err"), errorOutput);
        writeFile(
            base,
            QStringLiteral("#!/bin/sh\ncat \"$0.out\"\ncat \"$0.err\" >&2\nexit %1\n").arg(status).toUtf8());
        QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return IMobileDeviceBridge(std::make_shared<ProcessRunner>(URL::fileURL(folder, true)));
    }

    static void writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
    }
};

void TestIMobileDeviceBridge::listsAttachedDevicesInBothUdidForms() {
    addDevice(describeDevice(kModernUdid));
    addDevice(describeDevice(kLegacyUdid, QStringLiteral("Old iPad")));
    IMobileDeviceBridge bridge = realToolsBridge();
    QCOMPARE(async::runSync(bridge.listDeviceUDIDs()), (QStringList{kModernUdid, kLegacyUdid}));
}

void TestIMobileDeviceBridge::deviceInfoReadsWhatTheDeviceReports() {
    auto description = describeDevice(kModernUdid, QStringLiteral("Ada's iPhone"));
    description.values["TimeOfDay"] = std::string("12:34:56");
    description.values["PasswordProtected"] = true;
    addDevice(description);
    IMobileDeviceBridge bridge = realToolsBridge();

    const DeviceInfo info = async::runSync(bridge.deviceInfo(kModernUdid));
    QCOMPARE(info.value(QStringLiteral("ProductVersion")), QStringLiteral("17.4"));
    QCOMPARE(info.value(QStringLiteral("ProductType")), QStringLiteral("iPhone15,2"));
    QCOMPARE(info.value(QStringLiteral("DeviceName")), QStringLiteral("Ada's iPhone"));
    QCOMPARE(info.value(QStringLiteral("UniqueDeviceID")), kModernUdid);
    QCOMPARE(info.value(QStringLiteral("TimeOfDay")), QStringLiteral("12:34:56"));
    QCOMPARE(info.value(QStringLiteral("PasswordProtected")), QStringLiteral("true"));
}

void TestIMobileDeviceBridge::deviceInfoOfAnUnknownDeviceFails() {
    addDevice(describeDevice(kModernUdid));
    IMobileDeviceBridge bridge = realToolsBridge();
    LogCapture logs;
    const std::optional<BridgeError> error = failureOf<BridgeError>(bridge.deviceInfo(kLegacyUdid));
    QVERIFY(error.has_value());
    QCOMPARE(error->errorCase(), BridgeError::Case::deviceNotFound);
    QCOMPARE(error->description(), QStringLiteral("Device not found: ") + kLegacyUdid);
    // Only the runner's line about the failed command; the bridge itself adds none.
    QCOMPARE(
        logs.messages(kBridge).filter(QStringLiteral("ideviceinfo")).filter(QStringLiteral("failed")).size(),
        1);
}

void TestIMobileDeviceBridge::deviceNameOfANamedDevice() {
    addDevice(describeDevice(kLegacyUdid, QStringLiteral("Küchen-iPad")));
    IMobileDeviceBridge bridge = realToolsBridge();
    QCOMPARE(async::runSync(bridge.deviceName(kLegacyUdid)), QStringLiteral("Küchen-iPad"));
}

void TestIMobileDeviceBridge::deviceNameOfAMissingDeviceIsUnknown() {
    IMobileDeviceBridge bridge = realToolsBridge();
    LogCapture logs;
    QCOMPARE(async::runSync(bridge.deviceName(kModernUdid)), QStringLiteral("Unknown Device"));
    const QStringList failures =
        logs.messages(kBridge).filter(QStringLiteral("idevicename failed for ") + kModernUdid);
    QCOMPARE(failures.size(), 1);
}

void TestIMobileDeviceBridge::udidListParsing_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("udids");

    QTest::newRow("blank line and surrounding blanks")
        << QByteArray("AAAA-1111\n\n \t BBBB-2222  \n") << QStringList{"AAAA-1111", "BBBB-2222"};
    QTest::newRow("a line of blanks only is no UDID") << QByteArray("   \nCCCC\n") << QStringList{"CCCC"};
    QTest::newRow("nothing printed") << QByteArray() << QStringList();
}

void TestIMobileDeviceBridge::udidListParsing() {
    QFETCH(QByteArray, output);
    QFETCH(QStringList, udids);
    IMobileDeviceBridge bridge = fakeToolBridge(QStringLiteral("idevice_id"), output);
    QCOMPARE(async::runSync(bridge.listDeviceUDIDs()), udids);
}

void TestIMobileDeviceBridge::failingUdidListIsEmptyAndLogged() {
    IMobileDeviceBridge bridge = fakeToolBridge(QStringLiteral("idevice_id"), "AAAA-1111\n", 1,
                                                "ERROR: Unable to retrieve device list!\n");
    LogCapture logs;
    QCOMPARE(async::runSync(bridge.listDeviceUDIDs()), QStringList());
    QVERIFY(logs.contains(kBridge,
                          QStringLiteral("idevice_id failed: ERROR: Unable to retrieve device list!\n")));
}

void TestIMobileDeviceBridge::deviceInfoParsing_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<DeviceInfo>("info");

    QTest::newRow("key and value") << QByteArray("ProductVersion: 17.4\n")
                                   << DeviceInfo{{"ProductVersion", "17.4"}};
    QTest::newRow("a value keeps its own colons") << QByteArray("TimeOfDay: 12:34:56\nAddress::1\n")
                                                  << DeviceInfo{{"TimeOfDay", "12:34:56"}, {"Address", ":1"}};
    QTest::newRow("blank lines and surrounding blanks")
        << QByteArray("\n  DeviceClass \t:  iPhone  \n\n") << DeviceInfo{{"DeviceClass", "iPhone"}};
    QTest::newRow("lines without a colon or without a value are skipped")
        << QByteArray("garbage\nEmpty:\n:orphan\nSerialNumber: F2L\n") << DeviceInfo{{"SerialNumber", "F2L"}};
    QTest::newRow("a value of blanks is an empty value")
        << QByteArray("Blank:   \n") << DeviceInfo{{"Blank", ""}};
    QTest::newRow("a later line replaces an earlier one")
        << QByteArray("DeviceName: Old\nDeviceName: New\n") << DeviceInfo{{"DeviceName", "New"}};
    QTest::newRow("array items read as their index")
        << QByteArray("SupportedDeviceFamilies[2]:\n 0: 1\n 1: 2\n") << DeviceInfo{{"0", "1"}, {"1", "2"}};
}

void TestIMobileDeviceBridge::deviceInfoParsing() {
    QFETCH(QByteArray, output);
    QFETCH(DeviceInfo, info);
    IMobileDeviceBridge bridge = fakeToolBridge(QStringLiteral("ideviceinfo"), output);
    QCOMPARE(async::runSync(bridge.deviceInfo(kModernUdid)), info);
}

void TestIMobileDeviceBridge::deviceNameParsing_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("name");

    QTest::newRow("trimmed at both ends") << QByteArray(" \tAda's iPhone \n") << 0 << "Ada's iPhone";
    QTest::newRow("only a line feed is the empty name") << QByteArray("\n") << 0 << "";
    QTest::newRow("failure is the unknown device") << QByteArray("Ada's iPhone\n") << 1 << "Unknown Device";
}

void TestIMobileDeviceBridge::deviceNameParsing() {
    QFETCH(QByteArray, output);
    QFETCH(int, status);
    QFETCH(QString, name);
    IMobileDeviceBridge bridge = fakeToolBridge(QStringLiteral("idevicename"), output, status);
    QCOMPARE(async::runSync(bridge.deviceName(kModernUdid)), name);
}

ORVANTA_DEVICE_TEST_MAIN(TestIMobileDeviceBridge)
#include "tst_IMobileDeviceBridge.moc"
