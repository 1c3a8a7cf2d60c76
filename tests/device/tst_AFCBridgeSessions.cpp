#include "device/AFCBridge.h"
#include "device/AFCError.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TaskFailure.h"

#include <QDir>
#include <QTest>

using async::runSync;

namespace {

const QString deviceUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString bundle = QStringLiteral("com.example.notes");

size_t countRequests(const std::string& service, const std::string& request, const std::string& detail) {
    size_t count = 0;
    for (const auto& entry : DeviceTestCase::emulator().log().entries()) {
        if (entry.service == service && entry.request == request && entry.detail == detail)
            ++count;
    }
    return count;
}

} // namespace

class tst_AFCBridgeSessions : public DeviceTestCase {
    Q_OBJECT

private slots:
    void failedOpenLeavesNoSession_data();
    void failedOpenLeavesNoSession();
    void appSession_data();
    void appSession();
    void disconnectAllClosesOnlyThatDevice();

private:
    fakemux::DeviceDescription deviceWithApp();
};

fakemux::DeviceDescription tst_AFCBridgeSessions::deviceWithApp() {
    fakemux::DeviceDescription description = describeDevice(deviceUdid);
    const QString container = scratchPath(QStringLiteral("container"));
    QDir(container).mkpath(QStringLiteral("Documents/Notes"));
    description.apps.push_back({bundle.toStdString(), "Notes", true, std::nullopt, container.toStdString()});
    return description;
}

void tst_AFCBridgeSessions::failedOpenLeavesNoSession_data() {
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("target");
    QTest::addColumn<std::optional<QString>>("app");
    QTest::addColumn<AFCError::Case>("errorCase");
    QTest::addColumn<QString>("description");

    const QString lockedText = QStringLiteral("iPhone is locked — unlock your device and try again");
    QTest::newRow("locked") << true << deviceUdid << std::optional<QString>() << AFCError::Case::deviceLocked
                            << lockedText;
    // A locked device keeps its apps' containers closed too, and says so in the same words.
    QTest::newRow("locked, an app's container")
        << true << deviceUdid << std::optional<QString>(bundle) << AFCError::Case::deviceLocked << lockedText;
    QTest::newRow("unknown device") << false << QStringLiteral("00008110-00000000000000AA")
                                    << std::optional<QString>() << AFCError::Case::connectionFailed
                                    << QStringLiteral("AFC connection failed: idevice_new error -3");
}

void tst_AFCBridgeSessions::failedOpenLeavesNoSession() {
    QFETCH(bool, locked);
    QFETCH(QString, target);
    QFETCH(std::optional<QString>, app);
    QFETCH(AFCError::Case, errorCase);
    QFETCH(QString, description);
    addDevice(deviceWithApp()).faults().setLocked(locked);
    AFCBridge bridge;

    auto error = failureOf<AFCError>(app ? bridge.connectApp(target, *app) : bridge.connect(target));
    QVERIFY(error);
    QCOMPARE(error->errorCase(), errorCase);
    QCOMPARE(error->description(), description);

    auto lookup = failureOf<AFCError>(bridge.afcClient(target, app));
    QVERIFY(lookup);
    QCOMPARE(lookup->errorCase(), AFCError::Case::notConnected);
}

void tst_AFCBridgeSessions::appSession_data() {
    QTest::addColumn<QString>("refused"); // the Vend commands that answer an error
    QTest::addColumn<bool>("hasDocuments");
    QTest::addColumn<int>("serviceStarts");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("log");

    const auto row = [](const char* tag, const char* refused, bool hasDocuments, int serviceStarts,
                        const char* failure, const char* log) {
        QTest::newRow(tag) << QString::fromUtf8(refused) << hasDocuments << serviceStarts
                           << QString::fromUtf8(failure) << QString::fromUtf8(log);
    };

    row("container", "", true, 1, "", "house_arrest VendContainer succeeded for com.example.notes");
    row("documents after refused container", "VendContainer", true, 2, "",
        "house_arrest VendDocuments succeeded for com.example.notes");
    row("both refused", "VendContainer,VendDocuments", true, 2,
        "AFC session failed: Container access denied for com.example.notes (InstallationLookupFailed)", "");
    row("root cannot be listed", "VendContainer", false, 2,
        "App com.example.notes does not support USB file sharing",
        "Container not accessible for com.example.notes, cleaning up session");
}

void tst_AFCBridgeSessions::appSession() {
    QFETCH(QString, refused);
    QFETCH(bool, hasDocuments);
    QFETCH(int, serviceStarts);
    QFETCH(QString, failure);
    QFETCH(QString, log);
    fakemux::DeviceDescription description = deviceWithApp();
    const std::filesystem::path container = description.apps.front().container;
    if (!hasDocuments)
        std::filesystem::remove_all(container / "Documents");
    fakemux::VirtualDevice& device = addDevice(std::move(description));
    for (const QString& command : refused.split(QLatin1Char(','), Qt::SkipEmptyParts))
        device.faults().setVendError(bundle.toStdString(), command.toStdString(), "InstallationLookupFailed");
    AFCBridge bridge;
    LogCapture logs;

    auto error = failureOf<AFCError>(bridge.connectApp(deviceUdid, bundle));
    QCOMPARE(countRequests("lockdownd", "StartService", "com.apple.mobile.house_arrest"),
             size_t(serviceStarts));
    if (!log.isEmpty())
        QVERIFY2(logs.messages(LogCapture::category(QStringLiteral("bridge"))).contains(log),
                 qPrintable(logs.messages(LogCapture::category(QStringLiteral("bridge"))).join(u'\n')));
    if (failure.isEmpty()) {
        QVERIFY(!error);
        const QList<AFCFileInfo> root =
            runSync(bridge.listDirectory(deviceUdid, QStringLiteral("/"), bundle));
        QVERIFY(!root.isEmpty());
        runSync(bridge.connectApp(deviceUdid, bundle)); // already open: nothing more is asked of the device
        QCOMPARE(countRequests("lockdownd", "StartService", "com.apple.mobile.house_arrest"),
                 size_t(serviceStarts));
        return;
    }
    QVERIFY(error);
    QCOMPARE(error->description(), failure);
    auto lookup = failureOf<AFCError>(bridge.afcClient(deviceUdid, bundle));
    QVERIFY(lookup);
    QCOMPARE(lookup->description(),
             QStringLiteral("No AFC session for device ") + deviceUdid + u':' + bundle);
}

void tst_AFCBridgeSessions::disconnectAllClosesOnlyThatDevice() {
    // A UDID that merely begins with the other one must keep its session.
    const QString longer = deviceUdid + QStringLiteral("0");
    addDevice(deviceWithApp());
    addDevice(describeDevice(longer));
    AFCBridge bridge;
    runSync(bridge.connect(deviceUdid));
    runSync(bridge.connectApp(deviceUdid, bundle));
    runSync(bridge.connect(longer));
    LogCapture logs;

    runSync(bridge.disconnectAll(deviceUdid));

    QVERIFY(failureOf<AFCError>(bridge.afcClient(deviceUdid, std::nullopt)));
    QVERIFY(failureOf<AFCError>(bridge.afcClient(deviceUdid, bundle)));
    QVERIFY(runSync(bridge.afcClient(longer, std::nullopt)) != nullptr);
    QVERIFY(runSync(bridge.listDirectory(longer, QStringLiteral("/"), std::nullopt)).isEmpty());
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("bridge"))),
             QStringList(QStringLiteral("AFC all sessions disconnected for ") + deviceUdid));
    runSync(bridge.disconnectAll(deviceUdid)); // nothing left to close: never fails
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeSessions)
#include "tst_AFCBridgeSessions.moc"
