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

QString valueOf(const QStringList& pairs, const QString& key) {
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == key)
            return pairs[i + 1];
    }
    return QString();
}
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
    void fileInfoReportsTypesSizesAndNanosecondTimes();
    void folderOperations();
    void pathsStayInsideTheMediaFolder_data();
    void pathsStayInsideTheMediaFolder();
    void changesThroughALinkStayInside_data();
    void changesThroughALinkStayInside();
    void openModes_data();
    void openModes();
    void brokenPacketsEndOnlyTheirConnection_data();
    void brokenPacketsEndOnlyTheirConnection();

private:
    QString media() const {
        return QString::fromStdString(emulator().device(udid.toStdString())->description().mediaRoot);
    }
    void openMedia(DeviceClient& client) { QCOMPARE(client.openMedia(udid), 0); }
};

void tst_AFC::fileInfoReportsTypesSizesAndNanosecondTimes() {
    addDevice(describeDevice(udid));
    QVERIFY(writeTestFile(media() + QStringLiteral("/clip.mov"), QByteArray(5000, 'x')));
    QDir(media()).mkdir(QStringLiteral("Folder"));
    QVERIFY(QFile::link(QStringLiteral("clip.mov"), media() + QStringLiteral("/link.mov")));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(media() + QStringLiteral("/clip.mov")).constData(), &st), 0);
    const QString mtime = QString::number(qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);

    DeviceClient client;
    openMedia(client);
    QStringList file, folder, link;
    QCOMPARE(client.fileInfo(QStringLiteral("/clip.mov"), file), AFC_E_SUCCESS);
    QCOMPARE(valueOf(file, QStringLiteral("st_ifmt")), QStringLiteral("S_IFREG"));
    QCOMPARE(valueOf(file, QStringLiteral("st_size")), QStringLiteral("5000"));
    QCOMPARE(valueOf(file, QStringLiteral("st_mtime")), mtime);
    QCOMPARE(valueOf(file, QStringLiteral("st_nlink")), QStringLiteral("1"));
    QVERIFY(!valueOf(file, QStringLiteral("st_birthtime")).isEmpty());
    QVERIFY(!valueOf(file, QStringLiteral("st_blocks")).isEmpty());
    QCOMPARE(client.fileInfo(QStringLiteral("/Folder"), folder), AFC_E_SUCCESS);
    QCOMPARE(valueOf(folder, QStringLiteral("st_ifmt")), QStringLiteral("S_IFDIR"));
    QCOMPARE(client.fileInfo(QStringLiteral("/link.mov"), link), AFC_E_SUCCESS);
    QCOMPARE(valueOf(link, QStringLiteral("st_ifmt")), QStringLiteral("S_IFLNK"));
    QCOMPARE(valueOf(link, QStringLiteral("LinkTarget")), QStringLiteral("clip.mov"));
    QStringList none;
    QCOMPARE(client.fileInfo(QStringLiteral("/missing"), none), AFC_E_OBJECT_NOT_FOUND);
}

void tst_AFC::folderOperations() {
    addDevice(describeDevice(udid));
    DeviceClient client;
    openMedia(client);
    afc_client_t afc = client.afc();
    QCOMPARE(afc_make_directory(afc, "/a/b/c"), AFC_E_SUCCESS);
    QCOMPARE(afc_make_directory(afc, "/a/b/c"), AFC_E_SUCCESS); // existing is fine
    QVERIFY(QFileInfo(media() + QStringLiteral("/a/b/c")).isDir());
    QCOMPARE(client.writeFile(QStringLiteral("/a/b/file.txt"), "hello"), AFC_E_SUCCESS);
    QCOMPARE(afc_make_directory(afc, "/a/b/file.txt"), AFC_E_OBJECT_NOT_FOUND);

    QCOMPARE(afc_rename_path(afc, "/a/b/file.txt", "/a/renamed.txt"), AFC_E_SUCCESS);
    QVERIFY(QFileInfo::exists(media() + QStringLiteral("/a/renamed.txt")));
    QCOMPARE(afc_rename_path(afc, "/a/gone.txt", "/a/x.txt"), AFC_E_OBJECT_NOT_FOUND);

    // A non-empty folder is refused with 1 on the wire, which the client reports as 33.
    QCOMPARE(afc_remove_path(afc, "/a/b"), AFC_E_DIR_NOT_EMPTY);
    QCOMPARE(afc_remove_path(afc, "/a/b/c"), AFC_E_SUCCESS);
    QCOMPARE(afc_remove_path(afc, "/a/renamed.txt"), AFC_E_SUCCESS);
    QCOMPARE(afc_remove_path(afc, "/a/renamed.txt"), AFC_E_OBJECT_NOT_FOUND);
    QVERIFY(!QFileInfo::exists(media() + QStringLiteral("/a/b/c")));

    uint64_t handle = 0;
    QCOMPARE(afc_file_open(afc, "/a", AFC_FOPEN_RDONLY, &handle), AFC_E_OBJECT_IS_DIR);
    QCOMPARE(afc_file_open(afc, "/missing", AFC_FOPEN_RDONLY, &handle), AFC_E_OBJECT_NOT_FOUND);
}

void tst_AFC::pathsStayInsideTheMediaFolder_data() {
    // OUT stands for the absolute path of a folder beside the media folder, holding secret.txt.
    QTest::addColumn<QString>("linkTarget"); // empty: no link
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("expected");
    QTest::newRow("dot-dot") << QString() << "/../../outside/secret.txt" << int(AFC_E_OBJECT_NOT_FOUND);
    QTest::newRow("dot-dot clamps to the root") << QString() << "/../inside.txt" << int(AFC_E_SUCCESS);
    QTest::newRow("absolute link to a folder") << "OUT"
                                               << "/escape/secret.txt" << int(AFC_E_OBJECT_NOT_FOUND);
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
    QTest::newRow("remove above the root") << "remove"
                                           << "/../outside.txt" << QString();
    QTest::newRow("remove through the link") << "remove"
                                             << "/up/outside.txt" << QString();
    QTest::newRow("rename out through the link") << "rename"
                                                 << "/up/outside.txt"
                                                 << "/stolen.txt";
    QTest::newRow("rename in through the link") << "rename"
                                                << "/inside.txt"
                                                << "/up/planted.txt";
    QTest::newRow("make a folder through the link") << "mkdir"
                                                    << "/up/planted" << QString();
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
    else
        result = afc_make_directory(client.afc(), from.constData());
    QCOMPARE(result, AFC_E_OBJECT_NOT_FOUND);
    QCOMPARE(QDir(scratchPath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
    QVERIFY(QFileInfo::exists(media() + QStringLiteral("/inside.txt")));

    // The link itself is removed, never what it points at.
    QCOMPARE(afc_remove_path(client.afc(), "/up"), AFC_E_SUCCESS);
    QVERIFY(QFileInfo::exists(outside));
}

void tst_AFC::openModes_data() {
    // The modes the application opens with. The file holds "abc" before it is opened; each mode
    // writes "XY" at the start and then reads from the start.
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("1 r") << int(AFC_FOPEN_RDONLY) << true << QByteArray("abc");
    QTest::newRow("4 w+") << int(AFC_FOPEN_WR) << true << QByteArray("XY");
}

void tst_AFC::openModes() {
    QFETCH(int, mode);
    QFETCH(bool, readable);
    QFETCH(QByteArray, stored);
    addDevice(describeDevice(udid));
    QVERIFY(writeTestFile(media() + QStringLiteral("/f.txt"), "abc"));
    DeviceClient client;
    openMedia(client);
    afc_client_t afc = client.afc();
    uint64_t handle = 0;
    QCOMPARE(afc_file_open(afc, "/f.txt", afc_file_mode_t(mode), &handle), AFC_E_SUCCESS);
    uint32_t written = 0;
    const afc_error_t wrote = afc_file_write(afc, handle, "XY", 2, &written);
    QCOMPARE(wrote == AFC_E_SUCCESS, mode != AFC_FOPEN_RDONLY);
    QCOMPARE(afc_file_seek(afc, handle, 0, SEEK_SET), AFC_E_SUCCESS);
    char buffer[8];
    uint32_t got = 0;
    QCOMPARE(afc_file_read(afc, handle, buffer, sizeof buffer, &got) == AFC_E_SUCCESS, readable);
    if (readable)
        QCOMPARE(QByteArray(buffer, got), stored);
    QCOMPARE(afc_file_close(afc, handle), AFC_E_SUCCESS);
    QCOMPARE(fileContents(media() + QStringLiteral("/f.txt")), stored);

    // Every mode but reading makes a file that is not there yet.
    QCOMPARE(afc_file_open(afc, "/new.txt", afc_file_mode_t(mode), &handle) == AFC_E_SUCCESS,
             mode != AFC_FOPEN_RDONLY);
    if (mode != AFC_FOPEN_RDONLY)
        QCOMPARE(afc_file_close(afc, handle), AFC_E_SUCCESS);
}

void tst_AFC::brokenPacketsEndOnlyTheirConnection_data() {
    // Operations: 0x03 READ_DIR, 0x10 FILE_WRITE.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hangsUp"); // the emulator ends the connection; otherwise the client does
    QTest::newRow("this_length 0") << afcHeader(40, 0, 0x03) << true;
    QTest::newRow("this_length 39") << afcHeader(40, 39, 0x03) << true;
    QTest::newRow("entire_length below this_length") << afcHeader(40, 48, 0x03) << true;
    QTest::newRow("huge entire_length") << afcHeader(~uint64_t(0), 40, 0x10) << true;
    QTest::newRow("huge this_length") << afcHeader(~uint64_t(0), ~uint64_t(0), 0x03) << true;
    QTest::newRow("wrong magic") << afcHeader(40, 40, 0x03, "CFA6LPAX") << true;
    QTest::newRow("half a header") << afcHeader(40, 40, 0x03).left(20) << false;
    QTest::newRow("path cut off") << afcHeader(140, 140, 0x03) + "/DCIM" << false;
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
