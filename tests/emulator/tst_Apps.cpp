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
    void vendServesTheContainerOrItsDocuments_data();
    void vendServesTheContainerOrItsDocuments();
    void vendErrors_data();
    void vendErrors();
    void containerIsAJailToo_data();
    void containerIsAJailToo();
    void lockedDeviceRefusesFileServices();

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

void tst_Apps::vendServesTheContainerOrItsDocuments_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("todoPath");
    QTest::addColumn<QString>("rootEntry");
    QTest::newRow("container") << "VendContainer"
                               << "/Documents/todo.txt"
                               << "Library";
    QTest::newRow("documents") << "VendDocuments"
                               << "/todo.txt"
                               << "todo.txt";
}

void tst_Apps::vendServesTheContainerOrItsDocuments() {
    QFETCH(QString, command);
    QFETCH(QString, todoPath);
    QFETCH(QString, rootEntry);
    addDevice(deviceWithApps());
    DeviceClient client;
    QCOMPARE(client.openApp(deviceUdid, QStringLiteral("com.example.notes"), command), 0);
    QStringList names;
    QCOMPARE(client.listDirectory(QStringLiteral("/"), names), AFC_E_SUCCESS);
    QVERIFY(names.contains(rootEntry));
    QByteArray data;
    QCOMPARE(client.readFile(todoPath, data), AFC_E_SUCCESS);
    QCOMPARE(data, QByteArray("milk"));
    QCOMPARE(client.writeFile(QStringLiteral("/new.txt"), "eggs"), AFC_E_SUCCESS);
    QCOMPARE(emulator().log().count("house_arrest", "FILE_WRITE"), size_t(1));
}

void tst_Apps::vendErrors_data() {
    QTest::addColumn<QString>("bundleId");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("faultCommand"); // the command made to fail, or empty
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown app") << "com.example.none"
                                 << "VendContainer"
                                 << ""
                                 << "ApplicationLookupFailed";
    QTest::newRow("container refused") << "com.example.game"
                                       << "VendContainer"
                                       << "VendContainer"
                                       << "InstallationLookupFailed";
}

void tst_Apps::vendErrors() {
    QFETCH(QString, bundleId);
    QFETCH(QString, command);
    QFETCH(QString, faultCommand);
    QFETCH(QString, expected);
    auto& device = addDevice(deviceWithApps());
    if (!faultCommand.isEmpty())
        device.faults().setVendError(bundleId.toStdString(), faultCommand.toStdString(),
                                     "InstallationLookupFailed");
    DeviceClient client;
    QString error;
    int result = client.openApp(deviceUdid, bundleId, command, &error);
    QCOMPARE(error, expected);
    QCOMPARE(result == 0, expected.isEmpty());
}

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

void tst_Apps::lockedDeviceRefusesFileServices() {
    auto& device = addDevice(deviceWithApps());
    device.faults().setLocked(true);
    DeviceClient media;
    QCOMPARE(media.openMedia(deviceUdid), int(LOCKDOWN_E_PASSWORD_PROTECTED));
    QCOMPARE(media.failedCall(), QStringLiteral("lockdownd_start_service"));
    DeviceClient app;
    QVERIFY(app.openApp(deviceUdid, QStringLiteral("com.example.notes"), QStringLiteral("VendDocuments")) !=
            0);
    QCOMPARE(app.failedCall(), QStringLiteral("house_arrest_client_start_service"));
    device.faults().setLocked(false);
    DeviceClient unlocked;
    QCOMPARE(unlocked.openMedia(deviceUdid), 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_Apps)
#include "tst_Apps.moc"
