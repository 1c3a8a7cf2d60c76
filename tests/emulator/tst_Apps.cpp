// house_arrest through libimobiledevice. Browsing the installed apps is read through AFCBridge in
// its own test.
#include "DeviceClient.h"
#include "DeviceTestCase.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>

namespace {
const QString deviceUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
} // namespace

class tst_Apps : public DeviceTestCase {
    Q_OBJECT
private slots:
    void containerIsAJailToo_data();
    void containerIsAJailToo();
    void containerAccess_data();
    void containerAccess();

private:
    fakemux::DeviceDescription deviceWithApps() {
        auto description = describeDevice(deviceUdid);
        fakemux::AppDescription notes{"com.example.notes", "Notes", true, false,
                                      scratchPath("notes").toStdString()};
        fakemux::AppDescription reader{"com.example.reader", std::nullopt, false, true,
                                       scratchPath("reader").toStdString()};
        fakemux::AppDescription game{"com.example.game", "Game", std::nullopt, std::nullopt,
                                     scratchPath("game").toStdString()};
        description.apps = {notes, reader, game};
        if (!writeTestFile(scratchPath("notes") + QStringLiteral("/Documents/todo.txt"), "milk"))
            QTest::qFail("Could not write the notes app's todo.txt", __FILE__, __LINE__);
        QDir(scratchPath("notes")).mkpath(QStringLiteral("Library"));
        return description;
    }
};

void tst_Apps::containerIsAJailToo_data() {
    QTest::addColumn<bool>("documentsIsALink");
    QTest::newRow("dot-dot out of Documents") << false;
    QTest::newRow("Documents is a link to a host folder") << true;
}

void tst_Apps::containerIsAJailToo() {
    QFETCH(bool, documentsIsALink);
    auto description = deviceWithApps();
    const QString outside = scratchPath(QStringLiteral("outside"));
    const QString secret = outside + QStringLiteral("/secret.txt");
    QVERIFY(writeTestFile(secret, "secret"));
    if (documentsIsALink) {
        const QString documents = scratchPath("notes") + QStringLiteral("/Documents");
        QVERIFY(QDir(documents).removeRecursively());
        QVERIFY(QFile::link(outside, documents));
    }
    addDevice(description);
    DeviceClient client;
    QCOMPARE(client.openApp(deviceUdid, QStringLiteral("com.example.notes"), QStringLiteral("VendDocuments")),
             0);
    QByteArray data;
    for (const char* path : {"/../../outside/secret.txt", "/secret.txt"}) {
        QCOMPARE(client.readFile(QString::fromLatin1(path), data), AFC_E_OBJECT_NOT_FOUND);
        QCOMPARE(afc_remove_path(client.afc(), path), AFC_E_OBJECT_NOT_FOUND);
    }
    // A write lands in the app's own Documents, or nowhere when that is a link out.
    QCOMPARE(client.writeFile(QStringLiteral("/planted.txt"), "x"),
             documentsIsALink ? AFC_E_OBJECT_NOT_FOUND : AFC_E_SUCCESS);
    QCOMPARE(fileContents(secret), QByteArray("secret"));
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("secret.txt")});
}

void tst_Apps::containerAccess_data() {
    QTest::addColumn<fakemux::Faults::ContainerAccess>("access");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("names");
    const QStringList all{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("Documents"),
                          QStringLiteral("Library")};
    QTest::newRow("open") << fakemux::Faults::ContainerAccess::open << int(AFC_E_SUCCESS) << all;
    QTest::newRow("refused") << fakemux::Faults::ContainerAccess::refused << int(AFC_E_PERM_DENIED)
                             << QStringList();
    QTest::newRow("empty") << fakemux::Faults::ContainerAccess::empty << int(AFC_E_SUCCESS)
                           << QStringList{QStringLiteral("."), QStringLiteral("..")};
}

void tst_Apps::containerAccess() {
    QFETCH(fakemux::Faults::ContainerAccess, access);
    QFETCH(int, status);
    QFETCH(QStringList, names);
    fakemux::VirtualDevice& device = addDevice(deviceWithApps());
    // Set on another app first: only the app named is touched, and the media area never.
    device.faults().setContainerAccess("com.example.reader", fakemux::Faults::ContainerAccess::refused);
    device.faults().setContainerAccess("com.example.notes", access);

    DeviceClient app;
    QCOMPARE(app.openApp(deviceUdid, QStringLiteral("com.example.notes"), QStringLiteral("VendContainer")),
             0);
    QStringList listed;
    QCOMPARE(int(app.listDirectory(QStringLiteral("/"), listed)), status);
    listed.sort();
    QCOMPARE(listed, names);

    DeviceClient media;
    QCOMPARE(media.openMedia(deviceUdid), 0);
    QCOMPARE(media.listDirectory(QStringLiteral("/"), listed), AFC_E_SUCCESS);
}

ORVANTA_DEVICE_TEST_MAIN(tst_Apps)
#include "tst_Apps.moc"
