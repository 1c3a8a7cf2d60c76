// AFC over the media folder through libimobiledevice's own afc_* calls.
#include "DeviceClient.h"
#include "DeviceTestCase.h"
#include "TestFiles.h"

#include <libimobiledevice/lockdown.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {
const QString udid = QStringLiteral("00008030-000A1B2C3D4E5F60");

// An AFC packet header as a client would send it, with whatever lengths a row asks for.
QByteArray afcHeader(uint64_t entireLength, uint64_t thisLength, uint64_t operation,
                     const char* magic = "CFA6LPAA") {
    QByteArray header(magic, 8);
    for (uint64_t field : {entireLength, thisLength, uint64_t(1), operation})
        header.append(reinterpret_cast<const char*>(&field), sizeof field);
    return header;
}
} // namespace

class tst_AFC : public DeviceTestCase {
    Q_OBJECT
private slots:
    void pathsStayInsideTheMediaFolder_data();
    void pathsStayInsideTheMediaFolder();
    void changesThroughALinkStayInside_data();
    void changesThroughALinkStayInside();
    void linksAndTreesAsADeviceMakesThem();
    void brokenPacketsEndOnlyTheirConnection_data();
    void brokenPacketsEndOnlyTheirConnection();

private:
    QString media() const {
        return QString::fromStdString(emulator().device(udid.toStdString())->description().mediaRoot);
    }
    void openMedia(DeviceClient& client) { QCOMPARE(client.openMedia(udid), 0); }
};

void tst_AFC::pathsStayInsideTheMediaFolder_data() {
    // OUT stands for the absolute path of a folder beside the media folder, holding secret.txt.
    QTest::addColumn<QString>("linkTarget"); // empty: no link
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected");
    QTest::newRow("dot-dot") << QString() << "/../../outside/secret.txt" << int(AFC_E_OBJECT_NOT_FOUND);
    QTest::newRow("relative link out") << "../outside"
                                       << "/escape/secret.txt" << int(AFC_E_OBJECT_NOT_FOUND);
    QTest::newRow("absolute link to the file") << "OUT/secret.txt"
                                               << "/escape" << int(AFC_E_OBJECT_NOT_FOUND);
    QTest::newRow("link inside stays usable") << "inside.txt"
                                              << "/escape" << int(AFC_E_SUCCESS);
}

void tst_AFC::pathsStayInsideTheMediaFolder() {
    QFETCH(QString, linkTarget);
    QFETCH(QString, path);
    QFETCH(int, expected);
    addDevice(describeDevice(udid));
    const QString outside = scratchPath(QStringLiteral("outside"));
    QVERIFY(writeTestFile(outside + QStringLiteral("/secret.txt"), "secret"));
    QVERIFY(writeTestFile(media() + QStringLiteral("/inside.txt"), "inside"));
    if (!linkTarget.isEmpty())
        QVERIFY(QFile::link(linkTarget.replace(QStringLiteral("OUT"), outside),
                            media() + QStringLiteral("/escape")));
    DeviceClient client;
    openMedia(client);

    QByteArray data;
    QCOMPARE(int(client.readFile(path, data)), expected);
    QCOMPARE(data, expected == AFC_E_SUCCESS ? QByteArray("inside") : QByteArray());
    // Writing through the same path lands inside or nowhere.
    QCOMPARE(int(client.writeFile(path, "changed")), expected);
    QCOMPARE(fileContents(outside + QStringLiteral("/secret.txt")), QByteArray("secret"));
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("secret.txt")});
}

void tst_AFC::changesThroughALinkStayInside_data() {
    // "up" is a link in the media folder to the scratch folder that holds both it and outside.txt.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("other");
    QTest::newRow("remove through the link") << "remove"
                                             << "/up/outside.txt" << QString();
    QTest::newRow("rename in through the link") << "rename"
                                                << "/inside.txt"
                                                << "/up/planted.txt";
    QTest::newRow("make a folder through the link") << "mkdir"
                                                    << "/up/planted" << QString();
    QTest::newRow("link in through the link") << "link"
                                              << "/inside.txt"
                                              << "/up/planted.txt";
    QTest::newRow("remove a tree through the link") << "tree"
                                                    << "/up/outside.txt" << QString();
}

void tst_AFC::changesThroughALinkStayInside() {
    QFETCH(QString, operation);
    QFETCH(QString, path);
    QFETCH(QString, other);
    addDevice(describeDevice(udid));
    const QString outside = scratchPath() + QStringLiteral("/outside.txt");
    QVERIFY(writeTestFile(outside, "keep me"));
    QVERIFY(writeTestFile(media() + QStringLiteral("/inside.txt"), "inside"));
    QVERIFY(QFile::link(scratchPath(), media() + QStringLiteral("/up")));
    const QStringList before = QDir(scratchPath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    DeviceClient client;
    openMedia(client);

    const QByteArray from = path.toUtf8(), to = other.toUtf8();
    afc_error_t result = AFC_E_SUCCESS;
    if (operation == QLatin1String("remove"))
        result = afc_remove_path(client.afc(), from.constData());
    else if (operation == QLatin1String("rename"))
        result = afc_rename_path(client.afc(), from.constData(), to.constData());
    else if (operation == QLatin1String("link"))
        result = afc_make_link(client.afc(), AFC_HARDLINK, from.constData(), to.constData());
    else if (operation == QLatin1String("tree"))
        result = afc_remove_path_and_contents(client.afc(), from.constData());
    else
        result = afc_make_directory(client.afc(), from.constData());
    QCOMPARE(result, AFC_E_OBJECT_NOT_FOUND);
    QCOMPARE(QDir(scratchPath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
    QVERIFY(QFileInfo::exists(media() + QStringLiteral("/inside.txt")));

    // The link itself is removed, never what it points at.
    QCOMPARE(afc_remove_path(client.afc(), "/up"), AFC_E_SUCCESS);
    QVERIFY(QFileInfo::exists(outside));
}

// A second name never takes one in use; a tree goes with its links, never what they point at;
// a device that does not know an operation says so.
void tst_AFC::linksAndTreesAsADeviceMakesThem() {
    addDevice(describeDevice(udid));
    const QString outside = scratchPath() + QStringLiteral("/outside.txt");
    QVERIFY(writeTestFile(outside, "keep me"));
    QVERIFY(writeTestFile(media() + QStringLiteral("/tree/a.txt"), "a"));
    QVERIFY(writeTestFile(media() + QStringLiteral("/tree/sub/b.txt"), "b"));
    QVERIFY(writeTestFile(media() + QStringLiteral("/taken.txt"), "theirs"));
    QVERIFY(QFile::link(outside, media() + QStringLiteral("/tree/sub/out")));
    DeviceClient client;
    openMedia(client);

    QCOMPARE(afc_make_link(client.afc(), AFC_HARDLINK, "/tree/a.txt", "/named.txt"), AFC_E_SUCCESS);
    QCOMPARE(afc_make_link(client.afc(), AFC_HARDLINK, "/tree/a.txt", "/taken.txt"), AFC_E_OBJECT_EXISTS);
    QCOMPARE(fileContents(media() + QStringLiteral("/taken.txt")), QByteArray("theirs"));

    QCOMPARE(afc_remove_path_and_contents(client.afc(), "/tree"), AFC_E_SUCCESS);
    QVERIFY(!QFileInfo::exists(media() + QStringLiteral("/tree")));
    QCOMPARE(fileContents(media() + QStringLiteral("/named.txt")), QByteArray("a"));
    QCOMPARE(fileContents(outside), QByteArray("keep me"));
    QCOMPARE(afc_remove_path_and_contents(client.afc(), "/tree"), AFC_E_OBJECT_NOT_FOUND);

    emulator().device(udid.toStdString())->faults().refuseOperation("MAKE_LINK");
    QCOMPARE(afc_make_link(client.afc(), AFC_HARDLINK, "/named.txt", "/again.txt"), AFC_E_OP_NOT_SUPPORTED);
    QVERIFY(!QFileInfo::exists(media() + QStringLiteral("/again.txt")));
}

void tst_AFC::brokenPacketsEndOnlyTheirConnection_data() {
    // Operations: 0x03 READ_DIR, 0x10 FILE_WRITE.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hangsUp"); // the emulator ends the connection; otherwise the client does
    QTest::newRow("this_length 0") << afcHeader(40, 0, 0x03) << true;
    QTest::newRow("entire_length below this_length") << afcHeader(40, 48, 0x03) << true;
    QTest::newRow("huge entire_length") << afcHeader(~uint64_t(0), 40, 0x10) << true;
    QTest::newRow("wrong magic") << afcHeader(40, 40, 0x03, "CFA6LPAX") << true;
    QTest::newRow("half a header") << afcHeader(40, 40, 0x03).left(20) << false;
    QTest::newRow("write payload cut off")
        << afcHeader(40 + 8 + (1 << 20), 48, 0x10) + QByteArray(8 + 1000, '\1') << false;
}

void tst_AFC::brokenPacketsEndOnlyTheirConnection() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hangsUp);
    addDevice(describeDevice(udid));
    DeviceClient healthy;
    openMedia(healthy);

    idevice_t device = nullptr;
    QCOMPARE(idevice_new(&device, udid.toUtf8().constData()), IDEVICE_E_SUCCESS);
    lockdownd_client_t lockdown = nullptr;
    QCOMPARE(lockdownd_client_new_with_handshake(device, &lockdown, "Orvanta"), LOCKDOWN_E_SUCCESS);
    lockdownd_service_descriptor_t service = nullptr;
    QCOMPARE(lockdownd_start_service(lockdown, "com.apple.afc", &service), LOCKDOWN_E_SUCCESS);
    lockdownd_client_free(lockdown);
    idevice_connection_t connection = nullptr;
    QCOMPARE(idevice_connect(device, service->port, &connection), IDEVICE_E_SUCCESS);
    lockdownd_service_descriptor_free(service);
    uint32_t sent = 0;
    QCOMPARE(idevice_connection_send(connection, bytes.constData(), uint32_t(bytes.size()), &sent),
             IDEVICE_E_SUCCESS);
    if (hangsUp) {
        // No reply, only the end of the stream; the limit keeps a wrong emulator from hanging.
        char reply[64];
        uint32_t got = 0;
        const idevice_error_t received =
            idevice_connection_receive_timeout(connection, reply, sizeof reply, &got, 20000);
        QCOMPARE(got, 0u);
        QVERIFY(received != IDEVICE_E_TIMEOUT && received != IDEVICE_E_SUCCESS);
    }
    idevice_disconnect(connection);
    idevice_free(device);

    // The other connection, and new ones, are served as before.
    QStringList names;
    QCOMPARE(healthy.listDirectory(QStringLiteral("/"), names), AFC_E_SUCCESS);
    DeviceClient later;
    openMedia(later);
    QCOMPARE(later.writeFile(QStringLiteral("/after.txt"), "fine"), AFC_E_SUCCESS);
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFC)
#include "tst_AFC.moc"
