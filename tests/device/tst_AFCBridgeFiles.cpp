#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "RequestCount.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString clip = QStringLiteral("/DCIM/clip.mov");
constexpr qint64 mib = 1 << 20;

// Each entry as "Name Path st_ifmt", in name order.
QStringList describe(const QList<AFCFileInfo>& entries) {
    QStringList lines;
    for (const AFCFileInfo& entry : entries) {
        lines.append(QStringList{entry.value(QStringLiteral("Name")), entry.value(QStringLiteral("Path")),
                                 entry.value(QStringLiteral("st_ifmt"))}
                         .join(u' '));
    }
    lines.sort();
    return lines;
}

// Every name in a folder, hidden ones included: a copy's temporary file must not survive it.
QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

size_t afcRequests() {
    size_t count = 0;
    for (const auto& entry : DeviceTestCase::emulator().log().entries())
        count += entry.service == "afc" ? 1 : 0;
    return count;
}

// Progress reports arrive on a copy thread (download) or the main thread (downloadFile).
struct ProgressLog {
    std::mutex mutex;
    QList<quint64> marks;
    bool allOnMain = true;

    AFCDownloadProgress downloadProgress() {
        return [this](quint64 bytes) {
            std::lock_guard lock(mutex);
            marks.append(bytes);
            allOnMain = allOnMain && async::isMainThread();
        };
    }
};

// Makes local writes fail past a size, as a full disk does, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

class tst_AFCBridgeFiles : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listingAndInfoNamePathsAndSkipUnsafeNames();
    void downloadReportsProgressPerMiB_data();
    void downloadReportsProgressPerMiB();
    void failedCopyLeavesTargetWholeOrOld_data();
    void failedCopyLeavesTargetWholeOrOld();
    void copiesRefuseWhatIsNoFile_data();
    void copiesRefuseWhatIsNoFile();
    void pathsWithNulNeverReachTheDevice_data();
    void pathsWithNulNeverReachTheDevice();
    void destroyingBridgeStopsCopyAtNextChunk();
    void removeRecursivelyRemovesLinksNotTargets();
    void readFileStopsAtLimit_data();
    void readFileStopsAtLimit();
    void abandonedReadStreamStopsReading_data();
    void abandonedReadStreamStopsReading();
    void readStreamAfterDisconnectFailsWithoutTouchingFreedHandles();

private:
    // Where the emulator keeps the file the bridge names by this device path ("/DCIM/a.mov").
    QString onDevice(const QString& path) const { return m_media + path; }
    QString localFolder() { return scratchPath(QStringLiteral("local")); }
    QString local(const QString& name) { return localFolder() + u'/' + name; }
    async::Task<quint64> download(QString from, QString to, AFCDownloadProgress progress = {},
                                  std::stop_token token = {}) {
        return m_bridge->download(udid, std::move(from), URL::fileURL(to), std::nullopt, std::move(progress),
                                  std::move(token));
    }
    async::Task<quint64> upload(QString to, QString from, AFCUploadProgress progress = {},
                                std::stop_token token = {}) {
        return m_bridge->uploadFile(udid, std::move(to), URL::fileURL(from), std::nullopt,
                                    std::move(progress), std::move(token));
    }

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
};

void tst_AFCBridgeFiles::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    QDir(m_media).mkpath(QStringLiteral("DCIM/100APPLE"));
    QDir().mkpath(localFolder());
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    runSync(m_bridge->connect(udid));
    emulator().log().clear();
}

void tst_AFCBridgeFiles::cleanup() {
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

void tst_AFCBridgeFiles::listingAndInfoNamePathsAndSkipUnsafeNames() {
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/DCIM/IMG_0001.JPG")), "jpeg"));
    m_device->faults().addHostileEntries("/DCIM", {"../x", "a/b", "..", "bad\xff"});
    LogCapture logs;

    QCOMPARE(describe(runSync(m_bridge->listDirectory(udid, QStringLiteral("/"), std::nullopt))),
             QStringList{QStringLiteral("DCIM /DCIM S_IFDIR")});
    const AFCDirectoryListing listing =
        runSync(m_bridge->listDirectoryDetailed(udid, QStringLiteral("/DCIM"), std::nullopt));
    QCOMPARE(describe(listing.entries),
             (QStringList{QStringLiteral("100APPLE /DCIM/100APPLE S_IFDIR"),
                          QStringLiteral("IMG_0001.JPG /DCIM/IMG_0001.JPG S_IFREG")}));
    // Left out, but not silently: the caller learns of each one.
    QCOMPARE(listing.skippedNames.size(), 3);
    const AFCFileInfo info =
        runSync(m_bridge->fileInfo(udid, QStringLiteral("/DCIM/IMG_0001.JPG"), std::nullopt));
    QCOMPARE(describe({info}), QStringList{QStringLiteral("IMG_0001.JPG /DCIM/IMG_0001.JPG S_IFREG")});
    QCOMPARE(info.value(QStringLiteral("st_size")), QStringLiteral("4"));
    QCOMPARE(failureText<AFCError>(m_bridge->fileInfo(udid, QStringLiteral("/missing"), std::nullopt)),
             QStringLiteral("File info failed: afc_get_file_info failed for /missing"));

    const QStringList lines = logs.messages(LogCapture::category(QStringLiteral("bridge")));
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"../x\" in /DCIM")));
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"a/b\" in /DCIM")));
    // Not valid UTF-8: the name read back is not the device's, so its facts cannot be read.
    QVERIFY2(lines.filter(QStringLiteral("File info failed: afc_get_file_info error 8")).size() == 1,
             qPrintable(lines.join(u'\n')));
    QCOMPARE(countAfcRequests("GET_FILE_INFO", "/x"), size_t(0));
}

void tst_AFCBridgeFiles::downloadReportsProgressPerMiB_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("onMain"); // downloadFile rather than download
    QTest::addColumn<QList<quint64>>("marks");
    QTest::newRow("empty") << qint64(0) << false << QList<quint64>{0};
    QTest::newRow("2.5 MiB") << mib * 5 / 2 << false
                             << QList<quint64>{quint64(mib), quint64(2 * mib), quint64(mib * 5 / 2)};
    // Reports are posted before the result, so they have all been delivered when it arrives.
    QTest::newRow("1.5 MiB, reports on the main thread")
        << mib * 3 / 2 << true << QList<quint64>{quint64(mib), quint64(mib * 3 / 2)};
}

void tst_AFCBridgeFiles::downloadReportsProgressPerMiB() {
    QFETCH(qint64, size);
    QFETCH(bool, onMain);
    QFETCH(QList<quint64>, marks);
    const QByteArray bytes = patternBytes(size);
    QVERIFY(writeTestFile(onDevice(clip), bytes));
    // An existing target is replaced, and keeps its permissions.
    const QString target = local(QStringLiteral("clip.mov"));
    QVERIFY(writeTestFile(target, patternBytes(size + 100)));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0600) == 0);
    ProgressLog progress;

    auto copy = onMain ? m_bridge->downloadFile(udid, clip, URL::fileURL(target), std::nullopt,
                                                progress.downloadProgress())
                       : download(clip, target, progress.downloadProgress());
    QCOMPARE(runSync(std::move(copy)), quint64(size));

    QCOMPARE(progress.marks, marks);
    QCOMPARE(progress.allOnMain, onMain);
    QVERIFY(fileContents(target) == bytes);
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QCOMPARE(namesIn(localFolder()), QStringList{QStringLiteral("clip.mov")});
}

void tst_AFCBridgeFiles::failedCopyLeavesTargetWholeOrOld_data() {
    QTest::addColumn<bool>("isUpload");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("description"); // of the AFCError; empty for a cancellation

    struct Fault {
        const char* name;
        const char* download; // nullptr: the fault has no meaning in that direction
        const char* upload;
    };
    const Fault faults[] = {
        {"none", "", ""},
        {"unplugged before", "File open failed: afc_file_open error 30 for /DCIM/clip.mov",
         "File open failed: afc_file_open(WR) error 30 for /DCIM/copy.mov"},
        {"unplugged mid-file", "File read failed: afc_file_read error 30",
         "AFC write failed: afc_file_write error 30"},
        {"device read error", "File read failed: afc_file_read error 4", nullptr},
        {"local disk full", "AFC write failed: write error: File too large (errno 27)", nullptr},
        {"writes refused", nullptr, "File open failed: afc_file_open(WR) error 10 for /DCIM/copy.mov"},
        {"device full", nullptr, "AFC write failed: afc_file_write error 18"},
        {"cancelled before start", "", ""},
        {"cancelled mid-file", "", ""},
    };
    for (const bool isUpload : {false, true}) {
        for (const bool exists : {false, true}) {
            for (const Fault& fault : faults) {
                const char* description = isUpload ? fault.upload : fault.download;
                if (!description)
                    continue;
                const QByteArray tag = QByteArray(isUpload ? "upload" : "download") +
                                       (exists ? " over file, " : " to new file, ") + fault.name;
                QTest::newRow(tag.constData()) << isUpload << exists << QString::fromLatin1(fault.name)
                                               << QString::fromUtf8(description);
            }
        }
    }
}

// Whatever goes wrong, the target ends as the whole new file or exactly the old one, and no
// temporary file is left on either side.
void tst_AFCBridgeFiles::failedCopyLeavesTargetWholeOrOld() {
    QFETCH(bool, isUpload);
    QFETCH(bool, targetExists);
    QFETCH(QString, fault);
    QFETCH(QString, description);
    const QByteArray bytes = patternBytes(6 * mib);
    const QByteArray old("the old file");
    const QString deviceFile = isUpload ? QStringLiteral("/DCIM/copy.mov") : clip;
    const QString localFile = local(isUpload ? QStringLiteral("clip.mov") : QStringLiteral("copy.mov"));
    const QString source = isUpload ? localFile : onDevice(deviceFile);
    const QString target = isUpload ? onDevice(deviceFile) : localFile;
    QVERIFY(writeTestFile(source, bytes));
    if (targetExists)
        QVERIFY(writeTestFile(target, old));

    fakemux::Faults& faults = m_device->faults();
    std::stop_source stop;
    std::optional<FileSizeLimit> diskFull;
    if (fault == QLatin1String("unplugged before"))
        m_device->unplug();
    else if (fault == QLatin1String("unplugged mid-file"))
        faults.unplugAfterAfcBytes(3 * mib);
    else if (fault == QLatin1String("device read error"))
        faults.readErrorAt(3 * mib);
    else if (fault == QLatin1String("local disk full"))
        diskFull.emplace(2 * mib);
    else if (fault == QLatin1String("writes refused"))
        faults.refuseWrites(10);
    else if (fault == QLatin1String("device full"))
        faults.setQuota(mib * 3 / 2);
    else if (fault == QLatin1String("cancelled before start"))
        stop.request_stop();
    else if (fault == QLatin1String("cancelled mid-file"))
        isUpload ? faults.stallWrites() : faults.gateReads(mib);

    auto copy = isUpload ? upload(deviceFile, localFile, {}, stop.get_token())
                         : download(deviceFile, localFile, {}, stop.get_token());
    if (fault == QLatin1String("cancelled mid-file")) {
        // The device holds the copy's second request while it is cancelled.
        QVERIFY(isUpload ? faults.waitUntilWriteStalled() : faults.waitUntilReadHeld());
        stop.request_stop();
        isUpload ? faults.releaseWrites() : faults.releaseReads();
    }
    if (fault == QLatin1String("none")) {
        QCOMPARE(runSync(std::move(copy)), quint64(bytes.size()));
    } else if (description.isEmpty()) {
        QVERIFY(failureOf<async::CancelledError>(std::move(copy)));
    } else {
        QCOMPARE(failureText<AFCError>(std::move(copy)), description);
    }
    diskFull.reset();

    if (fault == QLatin1String("none"))
        QVERIFY(fileContents(target) == bytes);
    else if (targetExists)
        QCOMPARE(fileContents(target), old);
    else
        QVERIFY(!QFileInfo::exists(target));

    const bool unplugged = fault.startsWith(QLatin1String("unplugged"));
    if (unplugged) {
        // A partial file the device took with it is removed as soon as the device is back.
        m_device->plug();
        runSync(m_bridge->disconnectAll(udid));
        runSync(m_bridge->connect(udid));
    } else {
        QCOMPARE(m_device->openHandles(), 0);
    }
    const QString leftName =
        targetExists || fault == QLatin1String("none") ? AFCPath::lastComponent(deviceFile) : QString();
    QStringList deviceNames{QStringLiteral("100APPLE")};
    if (!isUpload)
        deviceNames.append(QStringLiteral("clip.mov"));
    else if (!leftName.isEmpty())
        deviceNames.append(leftName);
    deviceNames.sort();
    QCOMPARE(namesIn(onDevice(QStringLiteral("/DCIM"))), deviceNames);
    QStringList localNames;
    if (isUpload)
        localNames.append(QStringLiteral("clip.mov"));
    else if (!leftName.isEmpty())
        localNames.append(QStringLiteral("copy.mov"));
    QCOMPARE(namesIn(localFolder()), localNames);
    if (fault.startsWith(QLatin1String("cancelled")))
        QCOMPARE(countAfcRequests(isUpload ? "FILE_WRITE" : "FILE_READ"),
                 size_t(fault == QLatin1String("cancelled before start") ? 0
                        : isUpload                                       ? 1
                                                                         : 2));
}

void tst_AFCBridgeFiles::copiesRefuseWhatIsNoFile_data() {
    QTest::addColumn<bool>("isUpload");
    QTest::addColumn<QString>("local");       // "pipe" or "link"
    QTest::addColumn<QString>("description"); // empty: the copy succeeds
    QTest::newRow("download onto a pipe")
        << false << "pipe"
        << "AFC write failed: Failed to open output file at %1: File exists (errno 17)";
    // The link is replaced; the file it points at, outside the folder, is never written through.
    QTest::newRow("download onto a link") << false << "link"
                                          << "";
    // Refused at once rather than waiting forever for a writer at the other end.
    QTest::newRow("upload of a pipe") << true << "pipe"
                                      << "AFC write failed: Failed to open local file %1 (errno 22)";
}

void tst_AFCBridgeFiles::copiesRefuseWhatIsNoFile() {
    QFETCH(bool, isUpload);
    QFETCH(QString, local);
    QFETCH(QString, description);
    QVERIFY(writeTestFile(onDevice(clip), "new"));
    const QString path = this->local(QStringLiteral("item"));
    const QString outside = scratchPath(QStringLiteral("outside")) + QStringLiteral("/kept.txt");
    QVERIFY(writeTestFile(outside, "kept"));
    if (local == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(outside, path));

    auto copy = isUpload ? upload(QStringLiteral("/DCIM/new.mov"), path) : download(clip, path);
    if (description.isEmpty()) {
        QCOMPARE(runSync(std::move(copy)), quint64(3));
        QCOMPARE(fileContents(path), QByteArray("new"));
        QVERIFY(!QFileInfo(path).isSymLink());
    } else {
        QCOMPARE(failureText<AFCError>(std::move(copy)), description.arg(path));
        QVERIFY(!QFileInfo(path).isFile());
    }
    QCOMPARE(fileContents(outside), QByteArray("kept"));
    QCOMPARE(namesIn(localFolder()), QStringList{QStringLiteral("item")});
    QCOMPARE(countAfcRequests("FILE_OPEN", "/DCIM/new.mov"), size_t(0));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::pathsWithNulNeverReachTheDevice_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("description"); // <local> stands for the local folder
    const QString at = QStringLiteral("NUL character in /Empty%00/file.txt");
    QTest::newRow("remove tree") << "removeTree" << QStringLiteral("AFC delete failed: ") + at;
    QTest::newRow("rename") << "rename" << QStringLiteral("AFC rename failed: ") + at;
    QTest::newRow("upload") << "upload" << QStringLiteral("AFC write failed: ") + at;
    QTest::newRow("download to a local path with NUL")
        << "download" << QStringLiteral("File read failed: NUL character in <local>/Empty%00/file.txt");
    QTest::newRow("app container") << "app"
                                   << QStringLiteral("AFC connection failed: NUL character in a%00b");
}

void tst_AFCBridgeFiles::pathsWithNulNeverReachTheDevice() {
    QFETCH(QString, operation);
    QFETCH(QString, description);
    // Cut at the NUL, the path would name this folder, and removing it would succeed.
    QVERIFY(QDir().mkpath(onDevice(QStringLiteral("/Empty"))));
    QVERIFY(writeTestFile(local(QStringLiteral("Empty")), "local"));
    const QString path = QStringLiteral("/Empty") + QChar(u'\0') + QStringLiteral("/file.txt");
    const QString localPath = localFolder() + path;

    std::optional<AFCError> error;
    if (operation == QLatin1String("removeTree"))
        error = failureOf<AFCError>(m_bridge->removeRecursively(udid, path, std::nullopt));
    else if (operation == QLatin1String("rename"))
        error = failureOf<AFCError>(m_bridge->renameItem(udid, path, QStringLiteral("/Other"), std::nullopt));
    else if (operation == QLatin1String("upload"))
        error = failureOf<AFCError>(upload(path, local(QStringLiteral("Empty"))));
    else if (operation == QLatin1String("download"))
        error = failureOf<AFCError>(download(QStringLiteral("/Empty"), localPath));
    else
        error = failureOf<AFCError>(
            m_bridge->connectApp(udid, QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")));

    QVERIFY(error);
    QCOMPARE(error->description(), QString(description).replace(QStringLiteral("<local>"), localFolder()));
    QCOMPARE(afcRequests(), size_t(0));
    QVERIFY(QFileInfo(onDevice(QStringLiteral("/Empty"))).isDir());
    QCOMPARE(fileContents(local(QStringLiteral("Empty"))), QByteArray("local"));
}

void tst_AFCBridgeFiles::destroyingBridgeStopsCopyAtNextChunk() {
    // A gigabyte at four MiB a second: left to run, the copy would take minutes.
    QFile big(onDevice(clip));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(1) << 30));
    big.close();
    fakemux::Faults& faults = m_device->faults();
    faults.throttle(4 * mib);
    faults.gateReads(2 * mib);
    const QString target = local(QStringLiteral("big.mov"));

    auto copy = download(clip, target);
    QVERIFY(faults.waitUntilReadHeld());
    faults.releaseReads();
    m_bridge.reset(); // as when the window closes mid-copy

    QVERIFY(failureOf<async::CancelledError>(std::move(copy)));
    // The copy ended at the chunk it was on, not at the end of the file.
    QVERIFY(countAfcRequests("FILE_READ") <= 4);
    QCOMPARE(namesIn(localFolder()), QStringList());
    // Closed by the copy as it stops, or by the device as the connection ends.
    QTRY_COMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::removeRecursivelyRemovesLinksNotTargets() {
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/Trip/day1/a.jpg")), "a"));
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/Trip/b.jpg")), "b"));
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/Keep/c.jpg")), "c"));
    QVERIFY(QFile::link(QStringLiteral("../Keep"), onDevice(QStringLiteral("/Trip/link"))));
    m_device->faults().addHostileEntries("/Trip", {"../Keep"});

    runSync(m_bridge->removeRecursively(udid, QStringLiteral("/Trip"), std::nullopt));

    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("/Trip"))));
    QCOMPARE(fileContents(onDevice(QStringLiteral("/Keep/c.jpg"))), QByteArray("c"));
}

void tst_AFCBridgeFiles::readFileStopsAtLimit_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<uint>("limit");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("limit above a chunk") << 3 * mib << uint(2 * mib + 5) << 2 * mib + 5;
    QTest::newRow("zero") << qint64(1000) << 0u << qint64(0);
}

void tst_AFCBridgeFiles::readFileStopsAtLimit() {
    QFETCH(qint64, size);
    QFETCH(uint, limit);
    QFETCH(qint64, expected);
    const QByteArray bytes = patternBytes(size);
    QVERIFY(writeTestFile(onDevice(clip), bytes));

    QVERIFY(runSync(m_bridge->readFile(udid, clip, limit, std::nullopt)) == bytes.left(expected));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("consumer stops") << false;
    QTest::newRow("consumer cancelled") << true;
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading() {
    QFETCH(bool, cancel);
    QVERIFY(writeTestFile(onDevice(clip), patternBytes(16 * mib)));
    {
        AFCReadStream stream = m_bridge->readStream(udid, clip, std::nullopt);
        const std::optional<QByteArray> first = runSync(stream.next());
        QVERIFY(first);
        QCOMPARE(first->size(), mib);
        if (cancel) {
            std::stop_source stop;
            stop.request_stop();
            QVERIFY(failureOf<async::CancelledError>(stream.next(stop.get_token())));
            QVERIFY(!runSync(stream.next()));
        }
    }
    // Jobs run in order: once this answers, the stream's close has been sent.
    runSync(m_bridge->fileInfo(udid, QStringLiteral("/DCIM"), std::nullopt));

    QCOMPARE(countAfcRequests("FILE_CLOSE"), size_t(1));
    QVERIFY(countAfcRequests("FILE_READ") <= 2); // the chunk handed out and at most one read ahead
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::readStreamAfterDisconnectFailsWithoutTouchingFreedHandles() {
    QVERIFY(writeTestFile(onDevice(clip), patternBytes(8 * mib)));
    AFCReadStream stream = m_bridge->readStream(udid, clip, std::nullopt);
    QVERIFY(runSync(stream.next()));
    // Reconnected at once: the file handle belonged to the client that disconnectAll freed, and the
    // new session's client must not be asked about it.
    runSync(m_bridge->disconnectAll(udid));
    runSync(m_bridge->connect(udid));
    emulator().log().clear();

    // The chunk read ahead before the disconnect is still handed out; nothing is read after it.
    QVERIFY(runSync(stream.next()));
    QCOMPARE(failureText<AFCError>(stream.next()), QStringLiteral("No AFC session for device ") + udid);
    QVERIFY(!runSync(stream.next()));
    QCOMPARE(countAfcRequests("FILE_READ"), size_t(0));
    QCOMPARE(countAfcRequests("FILE_CLOSE"), size_t(0));
    // The device lets go of the handle when it sees the freed client's connection end, on a thread
    // of its own.
    QTRY_COMPARE(m_device->openHandles(), 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeFiles)
#include "tst_AFCBridgeFiles.moc"
