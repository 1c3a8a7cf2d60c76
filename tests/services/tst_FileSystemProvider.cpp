#include "services/FileSystemProvider.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCLocation.h"
#include "device/AFCPath.h"
#include "platform/Error.h"
#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "services/PreferencesViewController.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <cmath>

using async::runSync;
using namespace std::chrono_literals;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString bundleID = QStringLiteral("com.example.notes");

// The same tree lies in each place, in a folder "tree".
enum class Place { computer, media, container };

QStringList split(const char* names) {
    return QString::fromUtf8(names).split(u'|', Qt::SkipEmptyParts);
}

QStringList names(const QList<FileItem>& items) {
    QStringList result;
    for (const FileItem& item : items)
        result.append(item.name());
    return result;
}

const FileItem* find(const QList<FileItem>& items, const QString& name) {
    const auto found =
        std::find_if(items.begin(), items.end(), [&](const FileItem& i) { return i.name() == name; });
    return found == items.end() ? nullptr : &*found;
}

// The description of the error the task failed with, from either side; empty when it succeeded.
QString errorOf(async::Task<void> task) {
    try {
        runSync(std::move(task));
    } catch (const Error& error) {
        return error.description();
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(Place)
Q_DECLARE_METATYPE(std::chrono::milliseconds)

class tst_FileSystemProvider : public DeviceTestCase {
    Q_OBJECT

    QString folderOf(Place place) const { return m_roots[int(place)] + QStringLiteral("/tree"); }
    URL urlOf(Place place, const QString& name = QString()) const {
        const QString path = name.isEmpty() ? QStringLiteral("/tree") : QStringLiteral("/tree/") + name;
        if (place == Place::computer)
            return URL::fileURL(m_roots[0] + path);
        return place == Place::media ? AFCLocation::mediaURL(udid, path)
                                     : AFCLocation::containerURL(udid, bundleID, path);
    }
    QList<FileItem> list(Place place) { return runSync(m_provider->listDirectory(urlOf(place))); }

    QString m_roots[3];
    fakemux::VirtualDevice* m_device = nullptr;
    std::unique_ptr<AFCBridge> m_bridge;
    async::ManualClock m_clock;
    std::unique_ptr<FileSystemProvider> m_provider;

private slots:
    void init() {
        setUpTest();
        PreferencesViewController::defaults().remove(PreferencesViewController::showHiddenFilesKey);

        fakemux::DeviceDescription description = describeDevice(udid);
        m_roots[0] = scratchPath(QStringLiteral("computer"));
        m_roots[1] = QString::fromStdString(description.mediaRoot.string());
        m_roots[2] = scratchPath(QStringLiteral("container"));
        description.apps = {{bundleID.toStdString(), "Notes", true, std::nullopt, m_roots[2].toStdString()}};
        for (const QString& root : m_roots) {
            for (const QString& file : split("a10.txt|B.txt|a2.txt|My File.jpg|.hidden|z/inner.txt"))
                QVERIFY(writeTestFile(root + QStringLiteral("/tree/") + file, "data"));
            QVERIFY(writeTestFile(root + QStringLiteral("/tree/") + AFCPath::partialCopyName(), "half"));
        }
        m_device = &addDevice(std::move(description));
        m_bridge = std::make_unique<AFCBridge>();
        m_provider = std::make_unique<FileSystemProvider>(*m_bridge, m_clock);
    }

    void cleanup() {
        m_provider.reset();
        m_bridge.reset();
        tearDownTest();
    }

    void cleanupTestCase() { PreferencesViewController::defaults().flush(); }

    void listings_data() {
        QTest::addColumn<Place>("place");
        QTest::addColumn<bool>("showHidden");
        QTest::newRow("computer, hidden files on") << Place::computer << true;
        QTest::newRow("media, hidden files off") << Place::media << false;
        QTest::newRow("container, hidden files on") << Place::container << true;
    }

    void listings() {
        QFETCH(Place, place);
        QFETCH(bool, showHidden);
        PreferencesViewController::defaults().set(PreferencesViewController::showHiddenFilesKey, showHidden);

        const QList<FileItem> items = list(place);
        // A copy in progress is no file of the user's, whatever the setting.
        QCOMPARE(names(items), split(showHidden ? "z|.hidden|a2.txt|a10.txt|B.txt|My File.jpg"
                                                : "z|a2.txt|a10.txt|B.txt|My File.jpg"));
        const FileItem& file = *find(items, QStringLiteral("My File.jpg"));
        const FileItem& folder = *find(items, QStringLiteral("z"));
        // Items of this computer are known by their path, device items by their URL's text.
        const URL url = urlOf(place, file.name());
        QCOMPARE(file.id(), place == Place::computer ? url.toLocalFile() : url.absoluteString());
        QVERIFY(file.id().endsWith(place == Place::computer ? QStringLiteral("/My File.jpg")
                                                            : QStringLiteral("/My%20File.jpg")));
        QCOMPARE(file.path(), url);
        QCOMPARE(file.kind(), FileKind::image);
        QCOMPARE(file.size(), quint64(4));
        QCOMPARE(
            qint64(std::floor(file.modifiedDate().secondsSince1970())),
            QFileInfo(folderOf(place) + QStringLiteral("/My File.jpg")).lastModified().toSecsSinceEpoch());
        QCOMPARE(folder.kind(), FileKind::folder);
        QCOMPARE(folder.path().hasDirectoryPath(), place == Place::computer);
    }

    // A device folder of a camera roll's size, past the length at which the listing gives what its
    // reading took back to the system: every photo comes through in order, with its own name,
    // place and size.
    void aCameraRollListsWhole_data() {
        QTest::addColumn<Place>("place");
        QTest::newRow("media") << Place::media;
        QTest::newRow("container") << Place::container;
    }

    void aCameraRollListsWhole() {
        QFETCH(Place, place);
        const int count = 1200;
        const auto photo = [](int index) {
            return QStringLiteral("IMG_%1.JPG").arg(index, 4, 10, QLatin1Char('0'));
        };
        for (int index = 0; index < count; ++index)
            QVERIFY(writeTestFile(folderOf(place) + QStringLiteral("/roll/") + photo(index),
                                  QByteArray(1 + index % 7, 'x')));
        const QList<FileItem> items =
            runSync(m_provider->listDirectory(urlOf(place, QStringLiteral("roll"))));
        QCOMPARE(items.size(), count);
        for (int index = 0; index < count; ++index) {
            const FileItem& item = items.at(index);
            QCOMPARE(item.name(), photo(index));
            QCOMPARE(item.path(), urlOf(place, QStringLiteral("roll/") + photo(index)));
            QCOMPARE(item.size(), quint64(1 + index % 7));
        }
    }

    void cacheIsServedFor30Seconds_data() {
        QTest::addColumn<std::chrono::milliseconds>("later");
        QTest::addColumn<bool>("listedAgain");
        QTest::newRow("29.999 s later") << 29999ms << false;
        QTest::newRow("30 s later") << 30000ms << true;
    }

    void cacheIsServedFor30Seconds() {
        QFETCH(std::chrono::milliseconds, later);
        QFETCH(bool, listedAgain);
        list(Place::media);
        QVERIFY(writeTestFile(folderOf(Place::media) + QStringLiteral("/new.txt"), "new"));
        m_clock.advance(later);
        QCOMPARE(names(list(Place::media)).contains(QStringLiteral("new.txt")), listedAgain);
        // Each URL text is an entry of its own.
        const URL slashed = *URL::fromString(urlOf(Place::media).absoluteString() + u'/');
        QVERIFY(names(runSync(m_provider->listDirectory(slashed))).contains(QStringLiteral("new.txt")));
    }

    void successfulChangesEmptyTheCache_data() {
        QTest::addColumn<Place>("place");
        QTest::addColumn<bool>("rename"); // to "x.txt"; else delete
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected"); // the listing after a success; empty when it fails
        QTest::newRow("device rename") << Place::container << true << QStringLiteral("a10.txt")
                                       << split("z|a2.txt|B.txt|My File.jpg|new.txt|x.txt");
        for (const auto& [place, side] :
             {std::pair(Place::computer, "computer"), std::pair(Place::container, "device")})
            QTest::addRow("%s delete of a folder", side)
                << place << false << QStringLiteral("z") << split("a2.txt|a10.txt|B.txt|My File.jpg|new.txt");
        QTest::newRow("computer rename that fails")
            << Place::computer << true << QStringLiteral("gone") << QStringList();
        QTest::newRow("device delete that fails")
            << Place::media << false << QStringLiteral("gone") << QStringList();
    }

    void successfulChangesEmptyTheCache() {
        QFETCH(Place, place);
        QFETCH(bool, rename);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);

        const QList<FileItem> before = list(place);
        QVERIFY(writeTestFile(folderOf(place) + QStringLiteral("/new.txt"), "behind the cache's back"));
        const FileItem* listed = find(before, name);
        const FileItem item = listed ? *listed
                                     : FileItem(name, name, urlOf(place, name), false, 0, Date(),
                                                FileKind::other, std::nullopt);
        const bool failed =
            !errorOf(rename ? m_provider->renameItem(item.path(), urlOf(place, QStringLiteral("x.txt")))
                            : m_provider->deleteItem(item))
                 .isEmpty();
        QCOMPARE(failed, expected.isEmpty());
        // A failure changed nothing and keeps the cache; a change empties it.
        QCOMPARE(names(list(place)), failed ? names(before) : expected);
        if (!failed && !rename) {
            // A device folder goes with what it held; one of this computer can be restored.
            QVERIFY(!QFileInfo::exists(folderOf(place) + QStringLiteral("/z")));
            if (place == Place::computer)
                QVERIFY(
                    QFileInfo::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/z/inner.txt"));
        }
    }

    void aDeviceThatWentAwayIsAskedAgain_data() {
        QTest::addColumn<Place>("place");
        QTest::addColumn<bool>("locked"); // when it comes back
        // A scan in between already opened a new session, so a session is up when we look.
        QTest::addColumn<bool>("reconnected");
        QTest::newRow("computer folder: still cached") << Place::computer << false << false;
        QTest::newRow("media, back at once") << Place::media << false << false;
        QTest::newRow("media, back and reconnected") << Place::media << false << true;
        QTest::newRow("media, back locked") << Place::media << true << false;
        QTest::newRow("container, back at once") << Place::container << false << false;
        QTest::newRow("container, back and reconnected") << Place::container << false << true;
        QTest::newRow("container, back locked") << Place::container << true << false;
    }

    // A device unplugged and plugged back in, faster than anyone noticed: its listings from
    // before are not served, and the one it answers once unlocked is its own.
    void aDeviceThatWentAwayIsAskedAgain() {
        QFETCH(Place, place);
        QFETCH(bool, locked);
        QFETCH(bool, reconnected);
        list(place);
        QVERIFY(writeTestFile(folderOf(place) + QStringLiteral("/new.txt"), "while it was away"));
        if (place != Place::computer) {
            m_device->faults().setLocked(locked);
            emulator().replug(udid.toStdString());
        }
        if (reconnected) {
            if (place == Place::container)
                runSync(m_bridge->connectApp(udid, bundleID));
            else
                runSync(m_bridge->connect(udid));
        }
        if (locked) {
            try {
                list(place);
                QFAIL("a locked device's folder was listed");
            } catch (const AFCError& error) {
                QCOMPARE(error.errorCase(), AFCError::Case::deviceLocked);
            }
            m_device->faults().setLocked(false);
        }
        QCOMPARE(names(list(place)).contains(QStringLiteral("new.txt")), place != Place::computer);
    }

    void listingOverlappingAnInvalidationIsNotStored_data() {
        QTest::addColumn<bool>("wholeCache");
        QTest::newRow("whole cache emptied") << true;
        QTest::newRow("that folder's entry removed") << false;
    }

    void listingOverlappingAnInvalidationIsNotStored() {
        QFETCH(bool, wholeCache);
        // Waits on the device until the event loop runs; meanwhile a transfer ends.
        async::Task<QList<FileItem>> early = m_provider->listDirectory(urlOf(Place::media));
        m_provider->invalidateCache(wholeCache ? std::nullopt : std::optional<URL>(urlOf(Place::media)));
        QVERIFY(!names(runSync(std::move(early))).contains(QStringLiteral("copied.txt")));
        QVERIFY(writeTestFile(folderOf(Place::media) + QStringLiteral("/copied.txt"), "copied"));
        QVERIFY(names(list(Place::media)).contains(QStringLiteral("copied.txt")));
    }

    void destroyedProviderEndsItsOperations() {
        async::Task<QList<FileItem>> waiting = m_provider->listDirectory(urlOf(Place::media));
        m_provider.reset();
        QVERIFY_THROWS_EXCEPTION(async::CancelledError, runSync(std::move(waiting)));
    }

    void renameRefusals_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("error"); // {computer} stands for the computer's folder

        const QString media = QStringLiteral("afc://") + udid + QStringLiteral("/tree/");
        const QString computer = QStringLiteral("file:{computer}/");
        const QString refused = QStringLiteral("AFC rename failed: invalid name ");
        const QString across = QStringLiteral(
            "AFC rename failed: cannot move an item between devices, app containers or the computer: ");
        QTest::newRow("onto an existing device item")
            << media + "a2.txt" << media + "B.txt"
            << QStringLiteral("AFC rename failed: an item named \"B.txt\" already exists in /tree");
        QTest::newRow("onto an existing computer item")
            << computer + "a2.txt" << computer + "B.txt"
            << QStringLiteral("Could not rename to \"{computer}/B.txt\": File exists");
        for (const QString& to :
             {QStringLiteral("afc://%1/.app/%2/tree/c.txt").arg(udid, bundleID), computer + "c"})
            QTest::addRow("to %s", qPrintable(to))
                << media + "a2.txt" << to << across + media + "a2.txt → " + to;
        QTest::newRow("device name with NUL") << media + "a2.txt" << media + "a%00c" << refused + "\"a%00c\"";
        QTest::newRow("computer name ..") << computer + "a2.txt" << computer + ".."
                                          << QStringLiteral("Could not rename to \"..\": Invalid argument");
    }

    void renameRefusals() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, error);
        for (QString* text : {&from, &to, &error})
            text->replace(QStringLiteral("{computer}"), folderOf(Place::computer));
        const QString folder =
            folderOf(from.startsWith(QStringLiteral("file:")) ? Place::computer : Place::media);
        list(Place::media); // opens the session that a rename relies on

        QCOMPARE(errorOf(m_provider->renameItem(*URL::fromString(from), *URL::fromString(to))), error);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/a2.txt")));
        QCOMPARE(fileContents(folder + QStringLiteral("/B.txt")), QByteArray("data"));
    }

    void unreadableEntriesAreReportedAndNamedItemsAlwaysFound() {
        m_device->faults().addHostileEntries("/tree", {"../escape"});
        LogCapture logs;
        const FileListing listing = runSync(m_provider->listDirectoryDetailed(urlOf(Place::media)));
        QCOMPARE(listing.skippedNames, QStringList{QStringLiteral("../escape")});
        QVERIFY(logs.contains(LogCapture::category(QStringLiteral("filesystem")),
                              QStringLiteral("Listing of %1 left out 1 unreadable entries: ../escape")
                                  .arg(urlOf(Place::media).absoluteString())));

        // Left out of listings, but found when asked for by name.
        QCOMPARE(runSync(m_provider->afcItem(urlOf(Place::media, QStringLiteral(".hidden")))).name(),
                 QStringLiteral(".hidden"));
        QCOMPARE(runSync(m_provider->localItem(urlOf(Place::computer, QStringLiteral(".hidden")))).id(),
                 folderOf(Place::computer) + QStringLiteral("/.hidden"));
        QCOMPARE(failureText<AFCError>(m_provider->afcItem(*URL::fromString(QStringLiteral("afc:/tree")))),
                 QStringLiteral("AFC connection failed: Invalid afc URL: afc:/tree"));
    }
};

// Trashed files and settings go to a home of this run's own, so that the trash used is always this
// one, on the same file system as the test's folders. Set before the emulator starts any thread:
// the client library reads the environment on every connection.
int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString share = home.filePath(QStringLiteral("share"));
    if (!home.isValid() || !QDir().mkpath(share) || !qputenv("HOME", QFile::encodeName(home.path())) ||
        !qputenv("XDG_DATA_HOME", QFile::encodeName(share)) || !DeviceTestCase::startEmulator())
        return 1;
    UserDefaults::setStandardFilePathForTesting(home.filePath(QStringLiteral("defaults.plist")));
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        tst_FileSystemProvider test;
        QTEST_SET_MAIN_SOURCE_PATH
        status = QTest::qExec(&test, argc, argv);
    }
    DeviceTestCase::stopEmulator();
    return status;
}

#include "tst_FileSystemProvider.moc"
