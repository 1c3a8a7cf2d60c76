// AFC over the media folder through libimobiledevice's own afc_* calls.
#include "DeviceClient.h"
#include "DeviceTestCase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <random>
#include <sys/stat.h>

namespace {
const QString kUdid = QStringLiteral("00008030-000A1B2C3D4E5F60");

QByteArray pattern(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    std::mt19937_64 generator(20240601);
    for (qsizetype i = 0; i + 8 <= size; i += 8) {
        uint64_t word = generator();
        memcpy(data.data() + i, &word, 8);
    }
    return data;
}

void writeHostFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

QString valueOf(const QStringList& pairs, const QString& key) {
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == key)
            return pairs[i + 1];
    }
    return QString();
}
} // namespace

class TestAFC : public DeviceTestCase {
    Q_OBJECT
private slots:
    void bigFileSurvivesTheRoundTrip();
    void listingHoldsDotsAndEntries();
    void fileInfoReportsTypesSizesAndNanosecondTimes();
    void folderOperations();
    void seekAndTell();
    void deviceInfo();
    void pathsStayInsideTheMediaFolder_data();
    void pathsStayInsideTheMediaFolder();
    void removeNeverReachesOutside();

private:
    QString media() const {
        return QString::fromStdString(emulator().device(kUdid.toStdString())->description().mediaRoot);
    }
    void openMedia(DeviceClient& client) { QCOMPARE(client.openMedia(kUdid), 0); }
};

void TestAFC::bigFileSurvivesTheRoundTrip() {
    auto& device = addDevice(describeDevice(kUdid));
    DeviceClient client;
    openMedia(client);
    const QByteArray data = pattern(64 << 20);
    QCOMPARE(client.writeFile(QStringLiteral("/big.bin"), data), AFC_E_SUCCESS);
    QFile stored(media() + QStringLiteral("/big.bin"));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QVERIFY(stored.readAll() == data);

    QByteArray back;
    QCOMPARE(client.readFile(QStringLiteral("/big.bin"), back), AFC_E_SUCCESS);
    QCOMPARE(back.size(), data.size());
    QVERIFY(back == data);
    QCOMPARE(device.openHandles(), 0);
    QCOMPARE(emulator().log().count("afc", "FILE_WRITE"), size_t(64));
}

void TestAFC::listingHoldsDotsAndEntries() {
    addDevice(describeDevice(kUdid));
    QDir(media()).mkpath(QStringLiteral("DCIM/100APPLE"));
    writeHostFile(media() + QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"), "jpeg");
    DeviceClient client;
    openMedia(client);
    QStringList names;
    QCOMPARE(client.listDirectory(QStringLiteral("/DCIM/100APPLE"), names), AFC_E_SUCCESS);
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("IMG_0001.JPG")}));
    QCOMPARE(client.listDirectory(QStringLiteral("/nowhere"), names), AFC_E_OBJECT_NOT_FOUND);
    QCOMPARE(client.listDirectory(QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"), names),
             AFC_E_OBJECT_NOT_FOUND);
}

void TestAFC::fileInfoReportsTypesSizesAndNanosecondTimes() {
    addDevice(describeDevice(kUdid));
    writeHostFile(media() + QStringLiteral("/clip.mov"), QByteArray(5000, 'x'));
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

void TestAFC::folderOperations() {
    addDevice(describeDevice(kUdid));
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

void TestAFC::seekAndTell() {
    auto& device = addDevice(describeDevice(kUdid));
    writeHostFile(media() + QStringLiteral("/f.bin"), "0123456789");
    DeviceClient client;
    openMedia(client);
    afc_client_t afc = client.afc();
    uint64_t handle = 0;
    QCOMPARE(afc_file_open(afc, "/f.bin", AFC_FOPEN_RDONLY, &handle), AFC_E_SUCCESS);
    QVERIFY(handle != 0);
    QCOMPARE(device.openHandles(), 1);
    QCOMPARE(afc_file_seek(afc, handle, 4, SEEK_SET), AFC_E_SUCCESS);
    char buffer[4];
    uint32_t got = 0;
    QCOMPARE(afc_file_read(afc, handle, buffer, 3, &got), AFC_E_SUCCESS);
    QCOMPARE(QByteArray(buffer, got), QByteArray("456"));
    uint64_t position = 0;
    QCOMPARE(afc_file_tell(afc, handle, &position), AFC_E_SUCCESS);
    QCOMPARE(position, uint64_t(7));
    QCOMPARE(afc_file_seek(afc, handle, -2, SEEK_END), AFC_E_SUCCESS);
    QCOMPARE(afc_file_read(afc, handle, buffer, 4, &got), AFC_E_SUCCESS);
    QCOMPARE(QByteArray(buffer, got), QByteArray("89"));
    QCOMPARE(afc_file_read(afc, handle, buffer, 4, &got), AFC_E_SUCCESS);
    QCOMPARE(got, 0u); // end of file
    QCOMPARE(afc_file_close(afc, handle), AFC_E_SUCCESS);
    QCOMPARE(device.openHandles(), 0);
}

void TestAFC::deviceInfo() {
    addDevice(describeDevice(kUdid));
    DeviceClient client;
    openMedia(client);
    char* model = nullptr;
    QCOMPARE(afc_get_device_info_key(client.afc(), "Model", &model), AFC_E_SUCCESS);
    QCOMPARE(QString::fromUtf8(model), QStringLiteral("iPhone15,2"));
    free(model);
    char* total = nullptr;
    QCOMPARE(afc_get_device_info_key(client.afc(), "FSTotalBytes", &total), AFC_E_SUCCESS);
    QVERIFY(QByteArray(total).toULongLong() > 0);
    free(total);
}

void TestAFC::pathsStayInsideTheMediaFolder_data() {
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

void TestAFC::pathsStayInsideTheMediaFolder() {
    QFETCH(QString, linkTarget);
    QFETCH(QString, path);
    QFETCH(int, expected);
    addDevice(describeDevice(kUdid));
    const QString outside = scratchPath(QStringLiteral("outside"));
    writeHostFile(outside + QStringLiteral("/secret.txt"), "secret");
    writeHostFile(media() + QStringLiteral("/inside.txt"), "inside");
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
    QFile secret(outside + QStringLiteral("/secret.txt"));
    QVERIFY(secret.open(QIODevice::ReadOnly));
    QCOMPARE(secret.readAll(), QByteArray("secret"));
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("secret.txt")});
}

void TestAFC::removeNeverReachesOutside() {
    addDevice(describeDevice(kUdid));
    const QString outside = scratchPath() + QStringLiteral("/outside.txt");
    writeHostFile(outside, "keep me");
    QVERIFY(QFile::link(scratchPath(), media() + QStringLiteral("/up")));
    DeviceClient client;
    openMedia(client);
    const QString relative = QStringLiteral("/../") + QFileInfo(outside).fileName();
    QCOMPARE(afc_remove_path(client.afc(), relative.toUtf8().constData()), AFC_E_OBJECT_NOT_FOUND);
    QCOMPARE(afc_remove_path(client.afc(), "/up/outside.txt"), AFC_E_OBJECT_NOT_FOUND);
    QCOMPARE(afc_rename_path(client.afc(), "/up/outside.txt", "/stolen.txt"), AFC_E_OBJECT_NOT_FOUND);
    QVERIFY(QFileInfo::exists(outside));
    // The link itself is removed, never what it points at.
    QCOMPARE(afc_remove_path(client.afc(), "/up"), AFC_E_SUCCESS);
    QVERIFY(QFileInfo::exists(outside));
}

ORVANTA_DEVICE_TEST_MAIN(TestAFC)
#include "tst_AFC.moc"
