#include "device/AFCBridge.h"
#include "device/AFCError.h"

#include "DeviceTestCase.h"
#include "TaskFailure.h"

#include <QTest>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const std::string installationProxy = "com.apple.mobile.installation_proxy";

using Apps = std::vector<fakemux::AppDescription>;

fakemux::AppDescription app(std::string bundleId, std::optional<std::string> name,
                            std::optional<bool> sharing, std::optional<bool> inPlace) {
    return {std::move(bundleId), std::move(name), sharing, inPlace, {}};
}

QStringList describe(const QList<AppInfo>& apps) {
    QStringList lines;
    for (const AppInfo& info : apps) {
        const QString id = info.id() == info.bundleID() ? info.id() : QStringLiteral("<id differs>");
        lines.append(id + QStringLiteral(" = ") + info.displayName());
    }
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(Apps)

class tst_AFCBridgeApps : public DeviceTestCase {
    Q_OBJECT

private slots:
    void listsAppsThatShareFiles_data();
    void listsAppsThatShareFiles();
    void failures_data();
    void failures();
};

void tst_AFCBridgeApps::listsAppsThatShareFiles_data() {
    QTest::addColumn<Apps>("apps");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("mixed, in pages of two")
        << Apps{app("com.x.files", "files", true, std::nullopt),
                app("com.x.books", "Books", false, true), // opens documents in place
                app("com.x.game", "Game", std::nullopt, std::nullopt),
                app("com.x.noname", std::nullopt, true, std::nullopt),
                app("com.x.banana", "banana", std::nullopt, true),
                app("com.x.blank", "", true, std::nullopt)}
        << QStringList{QStringLiteral("com.x.blank = "), QStringLiteral("com.x.banana = banana"),
                       QStringLiteral("com.x.books = Books"), QStringLiteral("com.x.noname = com.x.noname"),
                       QStringLiteral("com.x.files = files")};
    QTest::newRow("identifiers that cannot name a container are left out")
        << Apps{app("com.x/../y", "Slash", true, std::nullopt), app("..", "Dots", true, std::nullopt),
                app("", "Empty", true, std::nullopt), app("com.x.ok", "Ok", true, std::nullopt)}
        << QStringList{QStringLiteral("com.x.ok = Ok")};
}

void tst_AFCBridgeApps::listsAppsThatShareFiles() {
    QFETCH(Apps, apps);
    QFETCH(QStringList, expected);
    fakemux::DeviceDescription description = describeDevice(udid);
    description.apps = apps;
    addDevice(std::move(description)).faults().setBrowsePageSize(2);
    AFCBridge bridge;

    QCOMPARE(describe(runSync(bridge.listApps(udid))), expected);
    QCOMPARE(describe(runSync(bridge.listApps(udid))), expected);

    // Each call uses a connection of its own, and opens no session.
    size_t starts = 0;
    for (const auto& entry : emulator().log().entries()) {
        if (entry.service == "lockdownd" && entry.request == "StartService")
            starts += entry.detail == installationProxy ? 1 : 100;
    }
    QCOMPARE(starts, size_t(2));
    QVERIFY(failureOf<AFCError>(bridge.afcClient(udid, std::nullopt)));
}

void tst_AFCBridgeApps::failures_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<AFCError::Case>("errorCase");
    QTest::addColumn<QString>("description");
    QTest::newRow("no such device") << QStringLiteral("unplugged") << AFCError::Case::connectionFailed
                                    << QStringLiteral("AFC connection failed: idevice_new error -3");
    QTest::newRow("browse refused") << QStringLiteral("browse") << AFCError::Case::sessionFailed
                                    << QStringLiteral("AFC session failed: instproxy_browse error -256");
}

void tst_AFCBridgeApps::failures() {
    QFETCH(QString, fault);
    QFETCH(AFCError::Case, errorCase);
    QFETCH(QString, description);
    fakemux::VirtualDevice& device = addDevice(describeDevice(udid));
    if (fault == QLatin1String("unplugged"))
        emulator().unplug(udid.toStdString());
    else
        device.faults().setBrowseError("InternalError", "Browse failed");
    AFCBridge bridge;

    auto error = failureOf<AFCError>(bridge.listApps(udid));
    QVERIFY(error);
    QCOMPARE(error->errorCase(), errorCase);
    QCOMPARE(error->description(), description);
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeApps)
#include "tst_AFCBridgeApps.moc"
