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
    void realToolsReadTheDevices();
    void unknownDeviceFailsAndHasNoName();

    // Fake tools in the helpers folder.
    void toolOutputParsing_data();
    void toolOutputParsing();

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

void TestIMobileDeviceBridge::realToolsReadTheDevices() {
    auto modern = describeDevice(kModernUdid, QStringLiteral("Ada's iPhone"));
    modern.values["TimeOfDay"] = std::string("12:34:56");
    modern.values["PasswordProtected"] = true;
    addDevice(modern);
    addDevice(describeDevice(kLegacyUdid, QStringLiteral("Küchen-iPad")));
    IMobileDeviceBridge bridge = realToolsBridge();

    QCOMPARE(async::runSync(bridge.listDeviceUDIDs()), (QStringList{kModernUdid, kLegacyUdid}));
    const DeviceInfo info = async::runSync(bridge.deviceInfo(kModernUdid));
    QCOMPARE(info.value(QStringLiteral("ProductVersion")), QStringLiteral("17.4"));
    QCOMPARE(info.value(QStringLiteral("ProductType")), QStringLiteral("iPhone15,2"));
    QCOMPARE(info.value(QStringLiteral("DeviceName")), QStringLiteral("Ada's iPhone"));
    QCOMPARE(info.value(QStringLiteral("UniqueDeviceID")), kModernUdid);
    QCOMPARE(info.value(QStringLiteral("TimeOfDay")), QStringLiteral("12:34:56"));
    QCOMPARE(info.value(QStringLiteral("PasswordProtected")), QStringLiteral("true"));
    QCOMPARE(async::runSync(bridge.deviceName(kLegacyUdid)), QStringLiteral("Küchen-iPad"));
}

void TestIMobileDeviceBridge::unknownDeviceFailsAndHasNoName() {
    addDevice(describeDevice(kModernUdid));
    IMobileDeviceBridge bridge = realToolsBridge();
    LogCapture logs;

    const std::optional<BridgeError> error = failureOf<BridgeError>(bridge.deviceInfo(kLegacyUdid));
    QVERIFY(error.has_value());
    QCOMPARE(error->errorCase(), BridgeError::Case::deviceNotFound);
    QCOMPARE(error->description(), QStringLiteral("Device not found: ") + kLegacyUdid);
    QCOMPARE(async::runSync(bridge.deviceName(kLegacyUdid)), QStringLiteral("Unknown Device"));
    // Only the runner's line about each failed command; the bridge itself adds none.
    QCOMPARE(
        logs.messages(kBridge).filter(QStringLiteral("ideviceinfo")).filter(QStringLiteral("failed")).size(),
        1);
    QCOMPARE(logs.messages(kBridge).filter(QStringLiteral("idevicename failed for ") + kLegacyUdid).size(),
             1);
}

void TestIMobileDeviceBridge::toolOutputParsing_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("parsed"); // device info as "key=value"
    const auto row = [](const char* tag, const char* tool, const char* output, int status,
                        const QStringList& parsed) {
        QTest::newRow(tag) << QString::fromUtf8(tool) << QByteArray(output) << status << parsed;
    };

    row("UDIDs: blank lines and surrounding blanks", "idevice_id", "AAAA-1111\n\n \t BBBB-2222  \n   \n", 0,
        {"AAAA-1111", "BBBB-2222"});
    row("UDIDs: nothing printed", "idevice_id", "", 0, {});
    row("UDIDs: failure is an empty list, logged", "idevice_id", "AAAA-1111\n", 1, {});
    row("info: a value keeps its own colons", "ideviceinfo", "TimeOfDay: 12:34:56\nAddress::1\n", 0,
        {"Address=:1", "TimeOfDay=12:34:56"});
    row("info: blank lines and surrounding blanks", "ideviceinfo", "\n  DeviceClass \t:  iPhone  \n\n", 0,
        {"DeviceClass=iPhone"});
    row("info: lines without a colon or without a value are skipped", "ideviceinfo",
        "garbage\nEmpty:\n:orphan\nSerialNumber: F2L\n", 0, {"SerialNumber=F2L"});
    row("info: a value of blanks is an empty value", "ideviceinfo", "Blank:   \n", 0, {"Blank="});
    row("name: trimmed at both ends", "idevicename", " \tAda's iPhone \n", 0, {"Ada's iPhone"});
    row("name: only a line feed is the empty name", "idevicename", "\n", 0, {""});
}

void TestIMobileDeviceBridge::toolOutputParsing() {
    QFETCH(QString, tool);
    QFETCH(QByteArray, output);
    QFETCH(int, status);
    QFETCH(QStringList, parsed);
    // What a tool says on its error stream is never taken for its answer.
    const QByteArray complaint = "ERROR: Unable to retrieve device list!\n";
    IMobileDeviceBridge bridge = fakeToolBridge(tool, output, status, complaint);
    LogCapture logs;

    QStringList items;
    if (tool == QLatin1String("idevice_id")) {
        items = async::runSync(bridge.listDeviceUDIDs());
    } else if (tool == QLatin1String("idevicename")) {
        items.append(async::runSync(bridge.deviceName(kModernUdid)));
    } else {
        const DeviceInfo info = async::runSync(bridge.deviceInfo(kModernUdid));
        for (auto it = info.cbegin(); it != info.cend(); ++it)
            items.append(it.key() + u'=' + it.value());
    }
    QCOMPARE(items, parsed);
    QCOMPARE(logs.contains(kBridge, tool + QStringLiteral(" failed: ") + QString::fromUtf8(complaint)),
             status != 0);
}

ORVANTA_DEVICE_TEST_MAIN(TestIMobileDeviceBridge)
#include "tst_IMobileDeviceBridge.moc"
