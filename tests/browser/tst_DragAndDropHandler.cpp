// Producing the files a drag promises to other programs, against the device emulator: each
// route's bytes, the requests that must fail without writing anything, the drag-out counter
// under overlapping requests, a stalled device read that fails at once while its private
// connection outlives it, one drag's production with its failures named, a receiver that asks
// only after the drag has ended, and a drag deleted while a receiver's request waits.

#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "browser/OrvantaDragMimeData.h"

#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "device/DeviceManager.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"

#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <sys/time.h>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString appID = QStringLiteral("com.example.notes");
constexpr qint64 mib = 1 << 20;

int64_t dragOutCount() {
    std::lock_guard lock(DeviceManager::transferLock);
    return DeviceManager::activeTransferCount;
}

// Every file below folder with its bytes, by path relative to it; folders end in "/".
QMap<QString, QByteArray> treeOf(const QString& folder) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isDir())
            tree.insert(relative + u'/', QByteArray());
        else
            tree.insert(relative, fileContents(path));
    }
    return tree;
}

} // namespace

class tst_DragAndDropHandler : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void producesEachRoute_data();
    void producesEachRoute();
    void refusedRequestsWriteNothing_data();
    void refusedRequestsWriteNothing();
    void overlappingRequestsCountDragOuts();
    void stalledReadFailsAtOnceAndItsConnectionOutlivesIt();
    void oneDragIsProducedOnceAndItsFailuresNamed();
    void receiverAsksAfterTheDragEnded_data();
    void receiverAsksAfterTheDragEnded();
    void receiverStopsWaitingForASlowCopy();
    void dragIsDeletedWhileTheRequestWaits_data();
    void dragIsDeletedWhileTheRequestWaits();

private:
    // Fulfils one promise and returns the error text, empty for success.
    QString request(const QVariantMap& info, const QString& destination) {
        std::optional<QString> completed;
        m_handler->writePromise(info, URL::fileURL(destination), recordInto(completed));
        return QTest::qWaitFor([&] { return completed.has_value(); }, 20000) ? *completed
                                                                             : QStringLiteral("hangs");
    }
    // A completion that records the error's text, or "".
    static DragAndDropHandler::Completion recordInto(std::optional<QString>& text) {
        return [&text](std::exception_ptr failure) {
            text = failure ? async::describeException(failure) : QString();
        };
    }
    FileItem item(const URL& url, bool folder = false) const {
        return FileItem(url.absoluteString(), url.lastPathComponent(), url, folder, 0, Date(0),
                        folder ? FileKind::folder : FileKind::other, std::nullopt);
    }
    URL device(const QString& path) const { return AFCLocation::mediaURL(udid, path); }
    // Runs the loop until the device holds a read.
    bool readHeld();

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    QString m_app;
    QString m_mac;
    QString m_out;
    async::ManualClock m_clock;
    std::shared_ptr<DragAndDropHandler> m_handler;
    // Every private connection the handler made, to see when each is gone.
    QList<std::weak_ptr<AFCBridge>> m_bridges;
};

void tst_DragAndDropHandler::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_app = scratchPath(QStringLiteral("app"));
    description.apps = {{appID.toStdString(), "Notes", true, std::nullopt, m_app.toStdString()}};
    m_device = &addDevice(std::move(description));
    m_mac = scratchPath(QStringLiteral("computer"));
    m_out = scratchPath(QStringLiteral("receiver"));
    m_handler = DragAndDropHandler::create(nullptr, m_clock);
    m_handler->setStagingRoot(scratchPath(QStringLiteral("staging")));
    m_bridges.clear();
    m_handler->setBridgeFactory([this] {
        auto bridge = std::make_shared<AFCBridge>();
        m_bridges.append(bridge);
        return bridge;
    });
    DeviceManager::activeTransferCount = 0;
}

void tst_DragAndDropHandler::cleanup() {
    m_device->faults().releaseReads();
    // Private connections close on their own once their queues are through.
    QTRY_VERIFY(std::all_of(m_bridges.cbegin(), m_bridges.cend(), [](const auto& b) { return b.expired(); }));
    m_handler.reset();
    m_device = nullptr;
    tearDownTest();
}

bool tst_DragAndDropHandler::readHeld() {
    return QTest::qWaitFor(
        [this] { return m_device->faults().waitUntilReadHeld(std::chrono::milliseconds(1)); }, 20000);
}

void tst_DragAndDropHandler::producesEachRoute_data() {
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("folder");

    QTest::newRow("computer folder with a link") << QStringLiteral("mac") << true;
    QTest::newRow("device file of several chunks") << QStringLiteral("device") << false;
    QTest::newRow("device tree with an empty folder") << QStringLiteral("device") << true;
    QTest::newRow("file in an app's container") << QStringLiteral("app") << false;
}

void tst_DragAndDropHandler::producesEachRoute() {
    QFETCH(QString, route);
    QFETCH(bool, folder);

    const QString root = (route == u"mac"      ? m_mac
                          : route == u"device" ? m_media
                                               : m_app + QStringLiteral("/Documents"));
    const QString name = folder ? QStringLiteral("Trip") : QStringLiteral("clip.mov");
    const QString source = root + QStringLiteral("/picked/") + name;
    QVERIFY(writeTestFile(folder ? source + QStringLiteral("/a.jpg") : source, patternBytes(2 * mib + 5)));
    if (folder) {
        QVERIFY(writeTestFile(source + QStringLiteral("/day 2/b.txt"), "second"));
        QVERIFY(QDir().mkpath(source + QStringLiteral("/empty")));
        if (route == u"mac")
            QVERIFY(QFile::link(QStringLiteral("a.jpg"), source + QStringLiteral("/link")));
    }
    const QString path = QStringLiteral("/picked/") + name;
    const URL url = route == u"mac" ? URL::fileURL(source, folder)
                    : route == u"device"
                        ? device(path)
                        : AFCLocation::containerURL(udid, appID, QStringLiteral("/Documents") + path);
    // The bridge of the device manager: its session must survive the private connections.
    AFCBridge shared;
    runSync(shared.connect(udid));

    QCOMPARE(request(DragAndDropHandler::promiseInfo(item(url, folder)), m_out + u'/' + name), QString());
    QCOMPARE(treeOf(m_out), treeOf(root + QStringLiteral("/picked")));
    // A relative link points into the copy, not back at the source.
    if (folder && route == u"mac")
        QCOMPARE(QFile::symLinkTarget(m_out + QStringLiteral("/Trip/link")),
                 m_out + QStringLiteral("/Trip/a.jpg"));
    QCOMPARE(treeOf(m_handler->stagingRoot()), (QMap<QString, QByteArray>{}));
    QCOMPARE(dragOutCount(), 0);
    // Throws when the session was closed.
    (void)runSync(shared.listDirectory(udid, QStringLiteral("/"), std::nullopt));
}

void tst_DragAndDropHandler::refusedRequestsWriteNothing_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("name");  // "-" for none
    QTest::addColumn<QString>("error"); // empty: any
    // Whether the request got as far as raising the drag-out counter and logging its failure.
    QTest::addColumn<bool>("logged");

    const QString photo = device(QStringLiteral("/DCIM/a.jpg")).absoluteString();
    QTest::newRow("no name") << photo << QStringLiteral("-") << QStringLiteral("Missing source URL") << false;
    QTest::newRow("name climbs out") << photo << QStringLiteral("..")
                                     << QStringLiteral("The name cannot be used for a file: ..") << true;
    QTest::newRow("name climbs out through a folder")
        << photo << QStringLiteral("a/../../x")
        << QStringLiteral("The name cannot be used for a file: a/../../x") << true;
    QTest::newRow("afc location without a device")
        << QStringLiteral("afc:///DCIM/a.jpg") << QStringLiteral("a.jpg")
        << QStringLiteral("Invalid AFC source URL: afc:///DCIM/a.jpg") << true;
    QTest::newRow("device file gone") << device(QStringLiteral("/gone.jpg")).absoluteString()
                                      << QStringLiteral("gone.jpg") << QString() << true;
    QTest::newRow("receiver's file exists")
        << photo << QStringLiteral("taken.jpg") << QStringLiteral("Could not rename to \"") << true;
}

void tst_DragAndDropHandler::refusedRequestsWriteNothing() {
    QFETCH(QString, source);
    QFETCH(QString, name);
    QFETCH(QString, error);
    QFETCH(bool, logged);

    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/a.jpg"), patternBytes(1000)));
    QVERIFY(writeTestFile(m_out + QStringLiteral("/taken.jpg"), "old"));
    QMap<QString, QByteArray> before = treeOf(scratchPath());
    before.remove(QStringLiteral("staging/"));
    QVariantMap info{{DragAndDropHandler::sourceURLKey, source}};
    if (name != u"-")
        info.insert(DragAndDropHandler::fileNameKey, name);
    LogCapture logs;

    const QString shownName = DragAndDropHandler::promisedFileName(info);
    const QString completed = request(info, m_out + u'/' + shownName);
    QVERIFY2(completed.contains(error) && !completed.isEmpty(), qPrintable(completed));

    const QString failed = QStringLiteral("File promise copy failed for %1: ").arg(shownName);
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("transfer"))).filter(failed).isEmpty(),
             !logged);
    QMap<QString, QByteArray> after = treeOf(scratchPath());
    after.remove(QStringLiteral("staging/"));
    QCOMPARE(after, before);
    QCOMPARE(dragOutCount(), 0);
}

void tst_DragAndDropHandler::overlappingRequestsCountDragOuts() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/a.mov"), patternBytes(3 * mib)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/b.mov"), patternBytes(mib + 1)));
    m_device->faults().gateReads(0);

    QList<int64_t> counts;
    QStringList ends;
    auto request = [&](const QString& name) {
        m_handler->writePromise(DragAndDropHandler::promiseInfo(item(device(u'/' + name))),
                                URL::fileURL(m_out + u'/' + name), [&, name](std::exception_ptr failure) {
                                    ends.append(name + (failure ? QStringLiteral(" failed") : QString()));
                                    counts.append(dragOutCount());
                                });
        counts.append(dragOutCount());
    };
    request(QStringLiteral("a.mov"));
    request(QStringLiteral("b.mov"));
    request(QStringLiteral("missing.mov"));
    QCOMPARE(counts, (QList<int64_t>{1, 2, 3}));

    // The missing file fails while the others are held: the count drops by one, scans stay off.
    QTRY_COMPARE(ends, QStringList{QStringLiteral("missing.mov failed")});
    QCOMPARE(dragOutCount(), 2);
    QVERIFY(readHeld());
    m_device->faults().releaseReads();
    QTRY_COMPARE(ends.size(), 3);
    // Each request has lowered the count by the time its receiver hears of it.
    QCOMPARE(counts.mid(3), (QList<int64_t>{2, 1, 0}));
    QCOMPARE(dragOutCount(), 0);
    QCOMPARE(fileContents(m_out + QStringLiteral("/a.mov")), patternBytes(3 * mib));
    QCOMPARE(fileContents(m_out + QStringLiteral("/b.mov")), patternBytes(mib + 1));
}

void tst_DragAndDropHandler::stalledReadFailsAtOnceAndItsConnectionOutlivesIt() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/clip.mov"), patternBytes(3 * mib)));
    m_device->faults().gateReads(0);
    m_handler->filePromiseStallTimeout = 12.5;
    LogCapture logs;

    std::optional<QString> completed;
    m_handler->writePromise(DragAndDropHandler::promiseInfo(item(device(QStringLiteral("/clip.mov")))),
                            URL::fileURL(m_out + QStringLiteral("/clip.mov")), recordInto(completed));
    QVERIFY(readHeld());
    // Time moves on only while the watchdog sleeps on the clock, a second at a time.
    for (int second = 0; second < 40 && !completed; ++second) {
        QVERIFY(
            QTest::qWaitFor([this, &completed] { return completed || m_clock.sleeperCount() > 0; }, 20000));
        if (!completed)
            m_clock.advance(std::chrono::seconds(1));
    }
    QTRY_VERIFY(completed);
    // Reported while the read is still held by the device.
    QVERIFY(completed->contains(QStringLiteral("\"File promise AFC copy stalled for 12 seconds\"")));
    QVERIFY(m_device->faults().waitUntilReadHeld(std::chrono::milliseconds(1)));
    QCOMPARE(dragOutCount(), 0);
    const QStringList lines = logs.messages(LogCapture::category(QStringLiteral("transfer")));
    QCOMPARE(lines.filter(QStringLiteral("File promise AFC copy has no progress for ")),
             QStringList{QStringLiteral(
                 "File promise AFC copy has no progress for 10s (bytes: 0, path: /clip.mov)")});
    QCOMPARE(lines.filter(QStringLiteral("File promise copy failed for clip.mov: ")).size(), 1);

    // The orphaned read keeps its connection until the device lets go of it.
    QCOMPARE(m_bridges.size(), 1);
    QVERIFY(!m_bridges.front().expired());
    m_device->faults().releaseReads();
    QTRY_VERIFY(m_bridges.front().expired());
    QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/clip.mov")));
    QCOMPARE(treeOf(m_handler->stagingRoot()), (QMap<QString, QByteArray>{}));
}

void tst_DragAndDropHandler::oneDragIsProducedOnceAndItsFailuresNamed() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/IMG_1.HEIC"), patternBytes(mib + 3)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/Other/IMG_1.HEIC"), patternBytes(5)));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/a b.jpg"), "mac"));
    const QList<FileItem> rows{item(device(QStringLiteral("/DCIM/IMG_1.HEIC"))),
                               item(URL::fileURL(m_mac + QStringLiteral("/a b.jpg"))),
                               item(device(QStringLiteral("/gone.jpg"))),
                               item(device(QStringLiteral("/Other/IMG_1.HEIC")))};
    const std::shared_ptr<DragOutProduction> production = DragOutProduction::create(m_handler, rows);
    OrvantaDragMimeData data(rows);
    production->install(data);

    QCOMPARE(readFileURLs(&data).size(), 4); // dropped inside the window
    QVERIFY(!production->isStarted());

    const QList<QUrl> urls = data.urls();
    const QString folder = production->folder();
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/0/IMG_1.HEIC")),
                                QUrl::fromLocalFile(m_mac + QStringLiteral("/a b.jpg")),
                                QUrl::fromLocalFile(folder + QStringLiteral("/3/IMG_1.HEIC"))}));
    QCOMPARE(fileContents(urls.at(0).toLocalFile()), patternBytes(mib + 3));
    QCOMPARE(fileContents(urls.at(2).toLocalFile()), patternBytes(5));
    // Asked again, the receiver gets the same answer and nothing is copied again.
    QCOMPARE(data.urls(), urls);
    QCOMPARE(m_bridges.size(), 3);
    QCOMPARE(production->failedNames(), QStringList{QStringLiteral("gone.jpg")});

    const std::optional<AlertRequest> alert = DragOutProduction::failureAlert(production->failedNames());
    QVERIFY(alert && alert->style == AlertRequest::Style::warning);
    QCOMPARE(alert->message, QStringLiteral("“gone.jpg” could not be copied."));
    QVERIFY(DragOutProduction::failureAlert({QStringLiteral("a"), QStringLiteral("b")})
                ->informative.contains("a, b"));

    // The next start removes only what is older than a day: the receiver may still be copying.
    const QString old = m_handler->stagingRoot() + QStringLiteral("/old");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const timeval times[2] = {{now.toSecsSinceEpoch() - 25 * 3600, 0},
                              {now.toSecsSinceEpoch() - 25 * 3600, 0}};
    QVERIFY(QDir().mkpath(old) && ::utimes(QFile::encodeName(old).constData(), times) == 0);
    QCOMPARE(DragOutProduction::removeStaleFolders(m_handler->stagingRoot(), now.addSecs(23 * 3600)), 1);
    QVERIFY(QFileInfo::exists(urls.at(0).toLocalFile()));
    QCOMPARE(DragOutProduction::removeStaleFolders(m_handler->stagingRoot(), now.addSecs(25 * 3600)), 1);
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_DragAndDropHandler::receiverAsksAfterTheDragEnded_data() {
    QTest::addColumn<bool>("leftWhileDragging"); // the pointer left our windows: copies under way
    QTest::addColumn<QString>("asked");          // "during", "after" or "never"
    QTest::newRow("asked after the drop, copies under way") << true << QStringLiteral("after");
    QTest::newRow("asked after the drop, nothing started") << false << QStringLiteral("after");
    QTest::newRow("asked while the drag ran") << true << QStringLiteral("during");
    QTest::newRow("never asked") << true << QStringLiteral("never");
}

// On X11 the drop ends the drag in the source before the receiver asks for the data: what the
// drag's starter made must keep answering, and the failures are told once the receiver has had
// its answer.
void tst_DragAndDropHandler::receiverAsksAfterTheDragEnded() {
    QFETCH(bool, leftWhileDragging);
    QFETCH(QString, asked);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/IMG_1.HEIC"), patternBytes(mib + 3)));
    const QList<FileItem> rows{item(device(QStringLiteral("/DCIM/IMG_1.HEIC"))),
                               item(device(QStringLiteral("/gone.jpg")))};
    auto data = std::make_unique<OrvantaDragMimeData>(rows);
    auto presenter = std::make_shared<ScriptedAlertPresenter>();
    QWidget window;
    std::weak_ptr<DragOutProduction> left;
    QString folder;
    QList<QUrl> urls;
    {
        const std::shared_ptr<DragOutProduction> production = DragOutProduction::create(m_handler, rows);
        production->install(*data);
        if (leftWhileDragging)
            production->start();
        if (asked == u"during")
            urls = data->urls();
        production->showFailuresWhenAnswered(presenter, &window);
        left = production;
        folder = production->folder();
    }
    if (asked == u"after")
        urls = data->urls();
    if (asked == u"never") {
        QTRY_VERIFY(left.lock()->isFinished());
        QCoreApplication::processEvents();
        QVERIFY(presenter->requests.isEmpty());
    } else {
        QCOMPARE(urls, QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/0/IMG_1.HEIC"))});
        QCOMPARE(fileContents(urls.front().toLocalFile()), patternBytes(mib + 3));
        // Told afterwards, never inside the receiver's request, and once.
        if (asked == u"after")
            QVERIFY(presenter->requests.isEmpty());
        QTRY_COMPARE(presenter->requests.size(), 1);
        QCOMPARE(presenter->requests.front().message, QStringLiteral("“gone.jpg” could not be copied."));
        QCOMPARE(presenter->parents.front(), &window);
        (void)data->urls();
        QCoreApplication::processEvents();
        QCOMPARE(presenter->requests.size(), 1);
    }
    // The production goes with the drag's data.
    data.reset();
    QVERIFY(left.expired());
}

// A device file whose copy takes longer than a receiver waits: the request ends when the receiver
// gives up, with the files that were ready; the one that was not is named in the alert, later
// requests get the same answer at once, and no wait is left running. Quitting removes what the
// run's drags staged.
void tst_DragAndDropHandler::receiverStopsWaitingForASlowCopy() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/clip.mov"), patternBytes(3 * mib)));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/a.jpg"), "mac"));
    m_device->faults().gateReads(0);
    const QList<FileItem> rows{item(device(QStringLiteral("/clip.mov"))),
                               item(URL::fileURL(m_mac + QStringLiteral("/a.jpg")))};
    ManualUiTimerSource timers;
    const std::shared_ptr<DragOutProduction> production = DragOutProduction::create(m_handler, rows, timers);
    OrvantaDragMimeData data(rows);
    production->install(data);
    auto presenter = std::make_shared<ScriptedAlertPresenter>();
    QWidget window;
    production->showFailuresWhenAnswered(presenter, &window);

    // Inside the request's wait: once the device holds the read, the receiver's patience runs out.
    bool askedAgainInside = false;
    QList<QUrl> inside;
    std::function<void()> giveUp = [&] {
        if (!m_device->faults().waitUntilReadHeld(std::chrono::milliseconds(1))) {
            QTimer::singleShot(5, giveUp);
            return;
        }
        askedAgainInside = production->isWaiting();
        inside = data.urls(); // a second request while the first waits: no second wait
        timers.advance(DragOutProduction::receiverWait);
    };
    QTimer::singleShot(0, giveUp);
    const QList<QUrl> urls = data.urls();

    QVERIFY(askedAgainInside);
    QCOMPARE(inside, QList<QUrl>{QUrl::fromLocalFile(m_mac + QStringLiteral("/a.jpg"))});
    QCOMPARE(urls, QList<QUrl>{QUrl::fromLocalFile(m_mac + QStringLiteral("/a.jpg"))});
    QVERIFY(!production->isWaiting());
    QVERIFY(!production->isFinished());
    QCOMPARE(production->failedNames(), QStringList{QStringLiteral("clip.mov")});
    QTRY_COMPARE(presenter->requests.size(), 1);
    QCOMPARE(presenter->requests.front().message, QStringLiteral("“clip.mov” could not be copied."));
    QCOMPARE(timers.pendingCount(), 0);

    // The copy ends after all; the drop's answer stays what the receiver got.
    m_device->faults().releaseReads();
    QTRY_VERIFY(production->isFinished());
    QCOMPARE(data.urls(), urls);
    QCOMPARE(production->failedNames(), QStringList{QStringLiteral("clip.mov")});
    QVERIFY(QFileInfo::exists(production->folder()));
    DragOutProduction::removeFoldersOfThisRun();
    QVERIFY(!QFileInfo::exists(production->folder()));
    QVERIFY(QFileInfo::exists(m_mac + QStringLiteral("/a.jpg")));
}

void tst_DragAndDropHandler::dragIsDeletedWhileTheRequestWaits_data() {
    QTest::addColumn<bool>("copyEnds"); // else the receiver's patience runs out first
    QTest::newRow("then the copy ends") << true;
    QTest::newRow("then the wait runs out") << false;
}

// The request's wait runs the loop, and in it the drag can end: a receiver that gave up before us
// sends its finish, or the user cancels, and Qt deletes the drag and its data (which own the
// production) from inside the wait. The request still ends with its answer, and touches neither
// once they are gone; the production goes after the request.
void tst_DragAndDropHandler::dragIsDeletedWhileTheRequestWaits() {
    QFETCH(bool, copyEnds);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/clip.mov"), patternBytes(mib + 7)));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/a.jpg"), "mac"));
    m_device->faults().gateReads(0);
    const QList<FileItem> rows{item(URL::fileURL(m_mac + QStringLiteral("/a.jpg"))),
                               item(device(QStringLiteral("/clip.mov")))};
    ManualUiTimerSource timers;
    auto* data = new OrvantaDragMimeData(rows);
    std::weak_ptr<DragOutProduction> production;
    QString folder;
    {
        const std::shared_ptr<DragOutProduction> made = DragOutProduction::create(m_handler, rows, timers);
        made->install(*data);
        production = made;
        folder = made->folder();
    }
    QPointer<OrvantaDragMimeData> alive(data);

    std::function<void()> deleteTheDrag = [&] {
        if (!m_device->faults().waitUntilReadHeld(std::chrono::milliseconds(1))) {
            QTimer::singleShot(5, deleteTheDrag);
            return;
        }
        data->deleteLater();
    };
    std::function<void()> endTheWait = [&] {
        if (alive) {
            QTimer::singleShot(5, endTheWait);
            return;
        }
        if (copyEnds)
            m_device->faults().releaseReads();
        else
            timers.advance(DragOutProduction::receiverWait);
    };
    QTimer::singleShot(0, deleteTheDrag);
    QTimer::singleShot(0, endTheWait);
    // As the platform asks, through the data's own call: the data is gone by the time it returns.
    const QByteArray answer = data->data(OrvantaDragMimeData::uriListType);

    QVERIFY(!alive);
    QList<QByteArray> expected{QUrl::fromLocalFile(m_mac + QStringLiteral("/a.jpg")).toEncoded()};
    if (copyEnds)
        expected.append(QUrl::fromLocalFile(folder + QStringLiteral("/1/clip.mov")).toEncoded());
    QCOMPARE(answer, expected.join("\r\n") + "\r\n");
    QVERIFY(production.expired());
    m_device->faults().releaseReads();
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_DragAndDropHandler)
#include "tst_DragAndDropHandler.moc"
