#include "transfer/ClipboardManager.h"

#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

// Answers every name clash with "Replace", after running onAsk.
class ReplacingPrompter : public ConflictPrompter {
public:
    std::function<void()> onAsk;
    async::Task<ConflictAnswer> ask(QString, std::stop_token) override {
        if (onAsk)
            onAsk();
        co_return ConflictAnswer{ConflictResolution::replace, false};
    }
};

FileItem itemAt(const URL& url, bool folder) {
    return FileItem(url.absoluteString(), url.lastPathComponent(), url, folder, 0, Date::now(),
                    FileKind::other, std::nullopt);
}

} // namespace

Q_DECLARE_METATYPE(ClipboardManager::Mode)

// The clipboard of file items over a real transfer manager, the device emulator and temporary
// folders: which pastes it refuses, and what a cut paste leaves on the clipboard.
class tst_ClipboardManager : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void canPaste_data();
    void canPaste();
    void canPasteMatchesTheItemByItemRule();
    void theAnswerFollowsTheClipboard();
    void questionsCostTheSameForTenItemsAsForACameraRoll();
    void cutPasteEmptiesTheClipboardOnlyOnceMoved_data();
    void cutPasteEmptiesTheClipboardOnlyOnceMoved();
    void itemsCutDuringAPasteStayOnTheClipboard();

private:
    URL mac(const QString& relative) const { return URL::fileURL(m_mac + relative); }
    URL device(const QString& relative) const { return AFCLocation::mediaURL(udid, relative); }

    QString m_mac;
    QString m_media;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::shared_ptr<ReplacingPrompter> m_prompter;
    std::shared_ptr<TransferManager> m_manager;
    std::unique_ptr<ClipboardManager> m_clipboard;
};

void tst_ClipboardManager::initTestCase() {
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    static QTemporaryDir defaultsFolder;
    UserDefaults::setStandardFilePathForTesting(defaultsFolder.filePath(QStringLiteral("defaults.plist")));
}

void tst_ClipboardManager::init() {
    setUpTest();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_mac = scratchPath(QStringLiteral("computer"));
    addDevice(std::move(description));
    m_bridge = std::make_shared<AFCBridge>();
    m_provider = std::make_shared<FileSystemProvider>(*m_bridge, m_clock);
    m_prompter = std::make_shared<ReplacingPrompter>();
    m_manager = std::make_shared<TransferManager>(defaults, m_clock, m_notifications);
    m_manager->setAFCBridge(m_bridge);
    m_manager->setFileSystemProvider(m_provider);
    m_manager->setConflictPrompter(m_prompter);
    m_clipboard = std::make_unique<ClipboardManager>(m_manager, m_provider);
}

void tst_ClipboardManager::cleanup() {
    m_clipboard.reset();
    m_manager.reset();
    m_provider.reset();
    m_bridge.reset();
    tearDownTest();
}

void tst_ClipboardManager::canPaste_data() {
    QTest::addColumn<QList<FileItem>>("items");
    QTest::addColumn<ClipboardManager::Mode>("mode");
    QTest::addColumn<URL>("destination");
    QTest::addColumn<bool>("allowed");
    const auto folder = [](const QString& path) {
        return itemAt(URL::fileURL(path), true);
    };
    const QList<FileItem> cutFolder{folder(QStringLiteral("/A/B"))};
    const auto cut = ClipboardManager::Mode::cut;
    const auto copy = ClipboardManager::Mode::copy;
    QTest::newRow("empty") << QList<FileItem>{} << copy << URL::fileURL(QStringLiteral("/A")) << false;
    QTest::newRow("cut into itself, trailing slash")
        << cutFolder << cut << URL::fileURL(QStringLiteral("/A/B"), true) << false;
    QTest::newRow("copy into its own folder")
        << cutFolder << copy << URL::fileURL(QStringLiteral("/A")) << true;
    QTest::newRow("device item, same path on the computer")
        << QList<FileItem>{itemAt(AFCLocation::mediaURL(udid, QStringLiteral("/A/B")), true)} << cut
        << URL::fileURL(QStringLiteral("/A/B/C")) << true;
    // A folder pasted into itself or below itself would copy itself without end, by copy or by move.
    QTest::newRow("copy into itself") << cutFolder << copy << URL::fileURL(QStringLiteral("/A/B")) << false;
    QTest::newRow("cut below itself") << cutFolder << cut << URL::fileURL(QStringLiteral("/A/B/C/D")) << false;
    QTest::newRow("copy below itself") << cutFolder << copy << URL::fileURL(QStringLiteral("/A/B/C")) << false;
    QTest::newRow("cut into a sibling whose name begins alike")
        << cutFolder << cut << URL::fileURL(QStringLiteral("/A/BC")) << true;
    const QList<FileItem> deviceFolder{itemAt(AFCLocation::mediaURL(udid, QStringLiteral("/DCIM")), true)};
    QTest::newRow("device folder below itself")
        << deviceFolder << cut << AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE")) << false;
    QTest::newRow("device folder, the same path on another device")
        << deviceFolder << cut
        << AFCLocation::mediaURL(QStringLiteral("00008110-0000000000000001"), QStringLiteral("/DCIM/100APPLE"))
        << true;
}

void tst_ClipboardManager::canPaste() {
    QFETCH(QList<FileItem>, items);
    QFETCH(ClipboardManager::Mode, mode);
    QFETCH(URL, destination);
    QFETCH(bool, allowed);
    m_clipboard->items = items;
    m_clipboard->mode = mode;

    QCOMPARE(m_clipboard->canPaste(destination), allowed);
    // A refused paste does nothing at all.
    if (!allowed) {
        runSync(m_clipboard->paste(destination));
        QVERIFY(m_manager->completedTransfers.value().isEmpty());
        QCOMPARE(m_clipboard->items.value(), items);
    }
}

// Every destination against every clipboard, with the spellings a location may take (a trailing
// "/", "." and "..", escapes, a host or scheme in other letters, a root, a path without "/"): the
// answer is the item-by-item rule's, a refusal when the destination is one of the items or lies
// inside a folder among them.
void tst_ClipboardManager::canPasteMatchesTheItemByItemRule() {
    const auto at = [](const char* text) {
        return *URL::fromString(QString::fromLatin1(text));
    };
    const QString other = udid.toLower();
    const QList<URL> places{
        URL::fileURL(QStringLiteral("/A/B")), URL::fileURL(QStringLiteral("/A/B"), true),
        at("file:///A/./B"), at("file:///A/C/../B/D"), at("file:///A%2FB/E"), at("FILE:///A/B/F"),
        URL::fileURL(QStringLiteral("/A/B C")), at("file:///A/B%20C/G"), URL::fileURL(QStringLiteral("/A/BC")),
        URL::fileURL(QStringLiteral("/A")), URL::fileURL(QStringLiteral("/")), URL::fileURL(QStringLiteral("/Z/y")),
        device(QStringLiteral("/A/B")), device(QStringLiteral("/A/B/H")),
        AFCLocation::mediaURL(other, QStringLiteral("/A/B/H")),
        AFCLocation::containerURL(udid, QStringLiteral("io.halvorn.tavolet"), QStringLiteral("/Documents")),
        AFCLocation::containerURL(udid, QStringLiteral("io.halvorn.tavolet"), QStringLiteral("/Documents/I")),
        at("afc:A"), at("afc:A/B")};
    for (const bool folders : {true, false}) {
        for (const URL& itemURL : places) {
            const QList<FileItem> clipboards[] = {
                {itemAt(itemURL, folders)},
                {itemAt(URL::fileURL(QStringLiteral("/Q")), true), itemAt(itemURL, folders)}};
            for (const QList<FileItem>& items : clipboards) {
                m_clipboard->items = items;
                for (const URL& destination : places) {
                    bool refused = false;
                    for (const FileItem& item : items)
                        refused = refused || destination.isSameLocation(item.path()) ||
                                  (item.isDirectory() && destination.isBelow(item.path()));
                    QVERIFY2(m_clipboard->canPaste(destination) == !refused,
                             qPrintable(itemURL.absoluteString() + (folders ? " (folder) into " : " into ") +
                                        destination.absoluteString()));
                }
            }
        }
    }
}

// A new content is judged afresh for a destination asked about before, also one that holds the
// same items as an earlier content.
void tst_ClipboardManager::theAnswerFollowsTheClipboard() {
    const URL inside = URL::fileURL(QStringLiteral("/A/B/C"));
    const FileItem cutFolder = itemAt(URL::fileURL(QStringLiteral("/A/B")), true);
    m_clipboard->mode = ClipboardManager::Mode::cut;
    m_clipboard->items = QList<FileItem>{cutFolder};
    QVERIFY(!m_clipboard->canPaste(inside));
    m_clipboard->items = QList<FileItem>{itemAt(URL::fileURL(QStringLiteral("/X")), true)};
    QVERIFY(m_clipboard->canPaste(inside));
    m_clipboard->items = QList<FileItem>{cutFolder};
    QVERIFY(!m_clipboard->canPaste(inside));
    m_clipboard->items = QList<FileItem>{};
    QVERIFY(!m_clipboard->canPaste(URL::fileURL(QStringLiteral("/X/Y"))));
}

// The menus ask at every focus change, window activation and published change: what the
// clipboard holds is read once, when it is put there, and a question reads as many items with a
// camera roll on the clipboard as with ten photos.
void tst_ClipboardManager::questionsCostTheSameForTenItemsAsForACameraRoll() {
    const QList<URL> destinations{device(QStringLiteral("/DCIM")), device(QStringLiteral("/DCIM/100APPLE/IMG_1.JPG")),
                                  device(QStringLiteral("/DCIM/100APPLE/Edits")), mac(QStringLiteral("/dst"))};
    struct Reads {
        std::size_t atTheChange = 0;
        std::size_t asked = 0;
        int wrongAnswers = 0;
    };
    const auto readsFor = [&](int count) {
        QList<FileItem> roll{itemAt(device(QStringLiteral("/DCIM/100APPLE")), true)};
        for (int index = 1; index < count; ++index)
            roll.append(itemAt(device(QStringLiteral("/DCIM/100APPLE/IMG_%1.JPG").arg(index)), false));
        Reads reads;
        const std::size_t before = m_clipboard->itemLocationsRead();
        m_clipboard->items = roll;
        m_clipboard->mode = ClipboardManager::Mode::cut;
        reads.atTheChange = m_clipboard->itemLocationsRead() - before;
        for (int round = 0; round < 3; ++round) {
            for (const URL& destination : destinations) {
                // The folder above the roll and a computer folder take it; a photo of it and a
                // folder inside it do not.
                const bool allowed = destination == destinations.first() || destination == destinations.last();
                reads.wrongAnswers += m_clipboard->canPaste(destination) == allowed ? 0 : 1;
            }
        }
        reads.asked = m_clipboard->itemLocationsRead() - before - reads.atTheChange;
        return reads;
    };

    const Reads ten = readsFor(10);
    const Reads roll = readsFor(100000);

    QCOMPARE(ten.wrongAnswers, 0);
    QCOMPARE(roll.wrongAnswers, 0);
    QCOMPARE(roll.asked, ten.asked);
    QCOMPARE(ten.atTheChange, std::size_t(10));
    QCOMPARE(roll.atTheChange, std::size_t(100000));
}

void tst_ClipboardManager::cutPasteEmptiesTheClipboardOnlyOnceMoved_data() {
    QTest::addColumn<bool>("sourceThere");
    QTest::newRow("moved") << true;
    QTest::newRow("source gone: the paste fails") << false;
}

// The moves themselves, in every direction, are the transfer manager's.
void tst_ClipboardManager::cutPasteEmptiesTheClipboardOnlyOnceMoved() {
    QFETCH(bool, sourceThere);
    if (sourceThere)
        QVERIFY(writeTestFile(m_media + QStringLiteral("/src/a.jpg"), patternBytes(1000)));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    const URL source = device(QStringLiteral("/src/a.jpg"));
    const QList<FileItem> cut{itemAt(source, false)};
    m_clipboard->items = cut;
    m_clipboard->mode = ClipboardManager::Mode::cut;
    QCOMPARE(m_clipboard->cutItemURLs(), QSet<URL>{source});
    LogCapture logs;

    runSync(m_clipboard->paste(mac(QStringLiteral("/dst"))));

    QCOMPARE(QFileInfo::exists(m_mac + QStringLiteral("/dst/a.jpg")), sourceThere);
    QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/src/a.jpg")));
    QCOMPARE(m_clipboard->items.value(), sourceThere ? QList<FileItem>() : cut);
    QCOMPARE(m_clipboard->mode.value(),
             sourceThere ? ClipboardManager::Mode::copy : ClipboardManager::Mode::cut);
    QCOMPARE(m_clipboard->cutItemURLs().isEmpty(), sourceThere);
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("ui")))
                 .filter(QStringLiteral("Paste failed: "))
                 .size(),
             sourceThere ? 0 : 1);
}

void tst_ClipboardManager::itemsCutDuringAPasteStayOnTheClipboard() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/a.jpg"), "new"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/a.jpg"), "old"));
    const QList<FileItem> later{itemAt(mac(QStringLiteral("/other.txt")), false)};
    // The user cuts something else while the paste waits on its question.
    m_prompter->onAsk = [this, later] {
        m_clipboard->items = later;
        m_clipboard->mode = ClipboardManager::Mode::cut;
    };
    m_clipboard->items = QList<FileItem>{itemAt(device(QStringLiteral("/src/a.jpg")), false)};
    m_clipboard->mode = ClipboardManager::Mode::cut;

    runSync(m_clipboard->paste(mac(QStringLiteral("/dst"))));

    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/a.jpg")), QByteArray("new"));
    QCOMPARE(m_clipboard->items.value(), later);
    QCOMPARE(m_clipboard->mode.value(), ClipboardManager::Mode::cut);
}

ORVANTA_DEVICE_TEST_MAIN(tst_ClipboardManager)
#include "tst_ClipboardManager.moc"
