#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "platform/async/MainThread.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TaskFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <mutex>
#include <sys/stat.h>

using async::runSync;

namespace {

const QString kUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString kBridge = QStringLiteral("io.halvorn.orvanta.bridge");
const QString kClip = QStringLiteral("/DCIM/clip.mov");
const QString kUpload = QStringLiteral("/DCIM/up.bin");
constexpr qint64 kMiB = 1 << 20;

QByteArray pattern(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 4093) & 0xff);
    return bytes;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

size_t countRequests(const std::string& request, const std::string& detail = {}) {
    size_t count = 0;
    for (const auto& entry : DeviceTestCase::emulator().log().entries()) {
        if (entry.service == "afc" && entry.request == request && (detail.empty() || entry.detail == detail))
            ++count;
    }
    return count;
}

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

// Progress reports arrive on the executor thread (download) or the main thread (downloadFile).
struct ProgressLog {
    std::mutex mutex;
    QList<quint64> marks;
    QList<std::pair<qint64, qint64>> uploadMarks;
    bool allOnMain = true;

    AFCDownload::Progress downloadProgress() {
        return [this](quint64 bytes) {
            std::lock_guard lock(mutex);
            marks.append(bytes);
            allOnMain = allOnMain && async::isMainThread();
        };
    }
    AFCUpload::Progress uploadProgress() {
        return [this](qint64 sent, qint64 size) {
            std::lock_guard lock(mutex);
            uploadMarks.append({sent, size});
        };
    }
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
    void cancelledMidCopyRemovesPartialFile_data();
    void cancelledMidCopyRemovesPartialFile();
    void failedDownloadRemovesPartialFile_data();
    void failedDownloadRemovesPartialFile();
    void uploadCopiesAndReportsSize();
    void failedUploadLeavesNoDeviceFile_data();
    void failedUploadLeavesNoDeviceFile();
    void copyCancelledBeforeItStartsKeepsTheOldTarget_data();
    void copyCancelledBeforeItStartsKeepsTheOldTarget();
    void itemOperations_data();
    void itemOperations();
    void removeRecursivelyRemovesLinksNotTargets();
    void readFileStopsAtLimit_data();
    void readFileStopsAtLimit();
    void readStreamDeliversWholeFileOrItsOpenFailure();
    void abandonedReadStreamStopsReading_data();
    void abandonedReadStreamStopsReading();
    void readStreamAfterDisconnectFailsWithoutTouchingFreedHandles();

private:
    // Where the emulator keeps the file the bridge names by this device path ("/DCIM/a.mov").
    QString onDevice(const QString& path) const { return m_media + path; }
    QString local(const QString& name) { return scratchPath(QStringLiteral("local")) + u'/' + name; }
    async::Task<quint64> download(QString from, QString to, AFCDownload::Progress progress = {},
                                  std::stop_token token = {}) {
        return m_bridge->download(kUdid, std::move(from), URL::fileURL(to), std::nullopt, std::move(progress),
                                  std::move(token));
    }
    async::Task<quint64> upload(QString to, QString from, AFCUpload::Progress progress = {},
                                std::stop_token token = {}) {
        return m_bridge->uploadFile(kUdid, std::move(to), URL::fileURL(from), std::nullopt,
                                    std::move(progress), std::move(token));
    }

    static void addCopyDirections() {
        QTest::addColumn<bool>("isUpload");
        QTest::newRow("download") << false;
        QTest::newRow("upload") << true;
    }

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
};

void tst_AFCBridgeFiles::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(kUdid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    QDir(m_media).mkpath(QStringLiteral("DCIM/100APPLE"));
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    runSync(m_bridge->connect(kUdid));
    emulator().log().clear();
}

void tst_AFCBridgeFiles::cleanup() {
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

void tst_AFCBridgeFiles::listingAndInfoNamePathsAndSkipUnsafeNames() {
    writeFile(onDevice(QStringLiteral("/DCIM/IMG_0001.JPG")), "jpeg");
    m_device->faults().addHostileEntries("/DCIM", {"../x", "a/b", "..", "bad\xff"});
    LogCapture logs;

    QCOMPARE(describe(runSync(m_bridge->listDirectory(kUdid, QStringLiteral("/"), std::nullopt))),
             QStringList{QStringLiteral("DCIM /DCIM S_IFDIR")});
    QCOMPARE(describe(runSync(m_bridge->listDirectory(kUdid, QStringLiteral("/DCIM"), std::nullopt))),
             (QStringList{QStringLiteral("100APPLE /DCIM/100APPLE S_IFDIR"),
                          QStringLiteral("IMG_0001.JPG /DCIM/IMG_0001.JPG S_IFREG")}));
    const AFCFileInfo info =
        runSync(m_bridge->fileInfo(kUdid, QStringLiteral("/DCIM/IMG_0001.JPG"), std::nullopt));
    QCOMPARE(describe({info}), QStringList{QStringLiteral("IMG_0001.JPG /DCIM/IMG_0001.JPG S_IFREG")});
    QCOMPARE(info.value(QStringLiteral("st_size")), QStringLiteral("4"));
    QCOMPARE(failureText<AFCError>(m_bridge->fileInfo(kUdid, QStringLiteral("/missing"), std::nullopt)),
             QStringLiteral("File info failed: afc_get_file_info failed for /missing"));

    const QStringList lines = logs.messages(kBridge);
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"../x\" in /DCIM")));
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"a/b\" in /DCIM")));
    // Not valid UTF-8: the name read back is not the device's, so its facts cannot be read.
    QVERIFY2(lines.filter(QStringLiteral("File info failed: afc_get_file_info error 8")).size() == 1,
             qPrintable(lines.join(u'\n')));
    QCOMPARE(countRequests("GET_FILE_INFO", "/x"), size_t(0));
}

void tst_AFCBridgeFiles::downloadReportsProgressPerMiB_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("onMain"); // downloadFile rather than download
    QTest::addColumn<QList<quint64>>("marks");
    QTest::newRow("empty") << qint64(0) << false << QList<quint64>{0};
    QTest::newRow("exactly 1 MiB") << kMiB << false << QList<quint64>{quint64(kMiB), quint64(kMiB)};
    QTest::newRow("2.5 MiB") << kMiB * 5 / 2 << false
                             << QList<quint64>{quint64(kMiB), quint64(2 * kMiB), quint64(kMiB * 5 / 2)};
    // Reports are posted before the result, so they have all been delivered when it arrives.
    QTest::newRow("1.5 MiB, reports on the main thread")
        << kMiB * 3 / 2 << true << QList<quint64>{quint64(kMiB), quint64(kMiB * 3 / 2)};
}

void tst_AFCBridgeFiles::downloadReportsProgressPerMiB() {
    QFETCH(qint64, size);
    QFETCH(bool, onMain);
    QFETCH(QList<quint64>, marks);
    const QByteArray bytes = pattern(size);
    writeFile(onDevice(kClip), bytes);
    // An existing target is replaced, and keeps its permissions.
    const QString target = local(QStringLiteral("clip.mov"));
    writeFile(target, pattern(size + 100));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0600) == 0);
    ProgressLog progress;

    auto copy = onMain ? m_bridge->downloadFile(kUdid, kClip, URL::fileURL(target), std::nullopt,
                                                progress.downloadProgress())
                       : download(kClip, target, progress.downloadProgress());
    QCOMPARE(runSync(std::move(copy)), quint64(size));

    QCOMPARE(progress.marks, marks);
    QCOMPARE(progress.allOnMain, onMain);
    QVERIFY(contents(target) == bytes);
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
}

void tst_AFCBridgeFiles::cancelledMidCopyRemovesPartialFile_data() {
    addCopyDirections();
}

void tst_AFCBridgeFiles::cancelledMidCopyRemovesPartialFile() {
    QFETCH(bool, isUpload);
    const QString localFile = local(QStringLiteral("clip.mov"));
    writeFile(isUpload ? localFile : onDevice(kClip), pattern(4 * kMiB));
    // The device holds the copy's second request while it is cancelled.
    fakemux::Faults& faults = m_device->faults();
    if (isUpload)
        faults.stallWrites();
    else
        faults.gateReads(kMiB);
    std::stop_source stop;

    auto copy = isUpload ? upload(kClip, localFile, {}, stop.get_token())
                         : download(kClip, localFile, {}, stop.get_token());
    QVERIFY(isUpload ? faults.waitUntilWriteStalled() : faults.waitUntilReadHeld());
    stop.request_stop();
    if (isUpload)
        faults.releaseWrites();
    else
        faults.releaseReads();

    QVERIFY(failureOf<async::CancelledError>(std::move(copy)));
    QVERIFY(!QFileInfo::exists(isUpload ? onDevice(kClip) : localFile));
    // Nothing more is asked of the device once the cancel is seen.
    QCOMPARE(countRequests(isUpload ? "FILE_WRITE" : "FILE_READ"), size_t(isUpload ? 1 : 2));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::failedDownloadRemovesPartialFile_data() {
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<QString>("target"); // below the local folder unless absolute
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("posixError");
    const auto row = [](const char* tag, bool unplug, const char* target, const char* description,
                        int error) {
        QTest::newRow(tag) << unplug << QString::fromUtf8(target) << QString::fromUtf8(description) << error;
    };
    row("unplugged", true, "clip.mov", "File read failed: afc_file_read error 30", 0);
    row("local folder missing", false, "no/such/folder/clip.mov",
        "File read failed: Failed to open output file at %1 (errno 2)", ENOENT);
    // A full disk keeps its errno, and a target that is no regular file is never removed.
    row("local disk full", false, "/dev/full", "File read failed: write error (errno 28)", ENOSPC);
}

void tst_AFCBridgeFiles::failedDownloadRemovesPartialFile() {
    QFETCH(bool, unplug);
    QFETCH(QString, target);
    QFETCH(QString, description);
    QFETCH(int, posixError);
    writeFile(onDevice(kClip), pattern(6 * kMiB));
    const bool device = target.startsWith(u'/');
    if (device && !QFileInfo::exists(target))
        QSKIP("this device file is missing here");
    const QString to = device ? target : local(target);
    if (unplug)
        m_device->faults().unplugAfterAfcBytes(3 * kMiB);

    auto error = failureOf<AFCError>(download(kClip, to));

    QVERIFY(error);
    QCOMPARE(error->description(), description.arg(to));
    QCOMPARE(error->posixError().value_or(0), posixError);
    QCOMPARE(QFileInfo::exists(to), device);
    if (!unplug)
        QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::uploadCopiesAndReportsSize() {
    const QByteArray bytes = pattern(kMiB * 5 / 2);
    const QString source = local(QStringLiteral("up.bin"));
    writeFile(source, bytes);
    ProgressLog progress;

    QCOMPARE(runSync(upload(kUpload, source, progress.uploadProgress())), quint64(bytes.size()));

    QVERIFY(contents(onDevice(kUpload)) == bytes);
    const qint64 size = bytes.size();
    QCOMPARE(progress.uploadMarks,
             (QList<std::pair<qint64, qint64>>{{kMiB, size}, {2 * kMiB, size}, {size, size}}));
}

void tst_AFCBridgeFiles::failedUploadLeavesNoDeviceFile_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("posixError");
    QTest::newRow("writes refused") << "refuse"
                                    << QStringLiteral(
                                           "File open failed: afc_file_open(WR) error 10 for /DCIM/up.bin")
                                    << 0;
    QTest::newRow("device full") << "quota" << QStringLiteral("AFC write failed: afc_file_write error 18")
                                 << 0;
    // The device is gone, so the partial file cannot be removed there; that is said, not hidden.
    QTest::newRow("unplugged") << "unplug" << QStringLiteral("AFC write failed: afc_file_write error 30")
                               << 0;
    // A folder opens for reading, and then its read fails: that must not pass for an empty file.
    QTest::newRow("local read fails")
        << "folder" << QStringLiteral("AFC write failed: Failed to read local file %1 (errno 21)") << EISDIR;
    QTest::newRow("local file missing")
        << "missing" << QStringLiteral("AFC write failed: Failed to open local file %1 (errno 2)") << ENOENT;
}

void tst_AFCBridgeFiles::failedUploadLeavesNoDeviceFile() {
    QFETCH(QString, fault);
    QFETCH(QString, description);
    QFETCH(int, posixError);
    QString source = local(QStringLiteral("up.bin"));
    writeFile(source, pattern(3 * kMiB));
    if (fault == QLatin1String("refuse"))
        m_device->faults().refuseWrites(10);
    else if (fault == QLatin1String("quota"))
        m_device->faults().setQuota(kMiB * 3 / 2);
    else if (fault == QLatin1String("unplug"))
        m_device->faults().unplugAfterAfcBytes(2 * kMiB);
    else if (fault == QLatin1String("folder"))
        source = scratchPath(QStringLiteral("local"));
    else
        source = local(QStringLiteral("missing.bin"));
    ProgressLog progress;
    LogCapture logs;

    auto error = failureOf<AFCError>(upload(kUpload, source, progress.uploadProgress()));

    QVERIFY(error);
    QCOMPARE(error->description(), description.arg(source));
    QCOMPARE(error->posixError().value_or(0), posixError);
    if (fault == QLatin1String("unplug")) {
        QVERIFY(logs.messages(kBridge).contains(
            QStringLiteral("Could not remove partial upload /DCIM/up.bin: afc_remove_path error 30")));
        return;
    }
    QVERIFY(!QFileInfo::exists(onDevice(kUpload)));
    QCOMPARE(m_device->openHandles(), 0);
    if (fault == QLatin1String("quota")) // the MiB that fitted was reported, nothing claims more
        QCOMPARE(progress.uploadMarks, (QList<std::pair<qint64, qint64>>{{kMiB, 3 * kMiB}}));
}

void tst_AFCBridgeFiles::copyCancelledBeforeItStartsKeepsTheOldTarget_data() {
    addCopyDirections();
}

void tst_AFCBridgeFiles::copyCancelledBeforeItStartsKeepsTheOldTarget() {
    QFETCH(bool, isUpload);
    // Both sides hold a file; the copy would replace the target, but is cancelled while queued.
    const QString localFile = local(QStringLiteral("clip.mov"));
    writeFile(onDevice(kClip), "device");
    writeFile(localFile, "local");
    std::stop_source stop;
    stop.request_stop();

    auto copy = isUpload ? upload(kClip, localFile, {}, stop.get_token())
                         : download(kClip, localFile, {}, stop.get_token());

    QVERIFY(failureOf<async::CancelledError>(std::move(copy)));
    QCOMPARE(contents(onDevice(kClip)), QByteArray("device"));
    QCOMPARE(contents(localFile), QByteArray("local"));
    QCOMPARE(countRequests("FILE_OPEN"), size_t(0));
}

void tst_AFCBridgeFiles::itemOperations_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("text"); // the line logged, or the refusal's description
    QTest::addColumn<QStringList>("entries");
    const auto row = [](const char* tag, const char* operation, bool refused, const QString& text,
                        const QStringList& entries) {
        QTest::newRow(tag) << QString::fromUtf8(operation) << refused << text << entries;
    };

    row("remove", "remove", false, QStringLiteral("AFC removed: /Books/a.txt"), {});
    row("remove refused", "remove", true,
        QStringLiteral("AFC delete failed: afc_remove_path error 10 for /Books/a.txt"), {"a.txt"});
    row("rename", "rename", false, QStringLiteral("AFC rename: /Books/a.txt → /Books/b.txt"), {"b.txt"});
    row("rename refused", "rename", true,
        QStringLiteral("AFC rename failed: afc_rename_path error 10: /Books/a.txt → /Books/b.txt"),
        {"a.txt"});
    row("mkdir", "mkdir", false, QStringLiteral("AFC mkdir: /Books/New"), {"a.txt", "New"});
    row("mkdir refused", "mkdir", true,
        QStringLiteral("AFC make directory failed: afc_make_directory error 10 for /Books/New"), {"a.txt"});
}

void tst_AFCBridgeFiles::itemOperations() {
    QFETCH(QString, operation);
    QFETCH(bool, refused);
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    const QString file = QStringLiteral("/Books/a.txt");
    writeFile(onDevice(file), "a");
    if (refused)
        m_device->faults().refuseWrites(10);
    LogCapture logs;

    auto task = operation == QLatin1String("remove") ? m_bridge->removeItem(kUdid, file, std::nullopt)
                : operation == QLatin1String("rename")
                    ? m_bridge->renameItem(kUdid, file, QStringLiteral("/Books/b.txt"), std::nullopt)
                    : m_bridge->makeDirectory(kUdid, QStringLiteral("/Books/New"), std::nullopt);
    if (refused) {
        QCOMPARE(failureText<AFCError>(std::move(task)), text);
    } else {
        runSync(std::move(task));
        QCOMPARE(logs.messages(kBridge), QStringList{text});
    }
    QCOMPARE(QDir(onDevice(QStringLiteral("/Books"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             entries);
}

void tst_AFCBridgeFiles::removeRecursivelyRemovesLinksNotTargets() {
    writeFile(onDevice(QStringLiteral("/Trip/day1/a.jpg")), "a");
    writeFile(onDevice(QStringLiteral("/Trip/b.jpg")), "b");
    writeFile(onDevice(QStringLiteral("/Keep/c.jpg")), "c");
    QVERIFY(QFile::link(QStringLiteral("../Keep"), onDevice(QStringLiteral("/Trip/link"))));
    m_device->faults().addHostileEntries("/Trip", {"../Keep"});

    runSync(m_bridge->removeRecursively(kUdid, QStringLiteral("/Trip"), std::nullopt));

    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("/Trip"))));
    QCOMPARE(contents(onDevice(QStringLiteral("/Keep/c.jpg"))), QByteArray("c"));
}

void tst_AFCBridgeFiles::readFileStopsAtLimit_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<uint>("limit");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("smaller file") << qint64(1000) << 524288u << qint64(1000);
    QTest::newRow("limit above a chunk") << 3 * kMiB << uint(2 * kMiB + 5) << 2 * kMiB + 5;
    QTest::newRow("zero") << qint64(1000) << 0u << qint64(0);
}

void tst_AFCBridgeFiles::readFileStopsAtLimit() {
    QFETCH(qint64, size);
    QFETCH(uint, limit);
    QFETCH(qint64, expected);
    const QByteArray bytes = pattern(size);
    writeFile(onDevice(kClip), bytes);

    QVERIFY(runSync(m_bridge->readFile(kUdid, kClip, limit, std::nullopt)) == bytes.left(expected));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::readStreamDeliversWholeFileOrItsOpenFailure() {
    const QByteArray bytes = pattern(kMiB * 5 / 2);
    writeFile(onDevice(kClip), bytes);
    AFCReadStream stream = m_bridge->readStream(kUdid, kClip, std::nullopt);

    QByteArray collected;
    int chunks = 0;
    while (std::optional<QByteArray> chunk = runSync(stream.next())) {
        collected += *chunk;
        ++chunks;
    }
    QCOMPARE(chunks, 3);
    QVERIFY(collected == bytes);
    QVERIFY(!runSync(stream.next())); // stays at its end
    QCOMPARE(m_device->openHandles(), 0);

    AFCReadStream missing = m_bridge->readStream(kUdid, QStringLiteral("/DCIM/none.mov"), std::nullopt);
    QCOMPARE(failureText<AFCError>(missing.next()),
             QStringLiteral("File open failed: afc_file_open error 8 for /DCIM/none.mov"));
    QVERIFY(!runSync(missing.next()));
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("consumer stops") << false;
    QTest::newRow("consumer cancelled") << true;
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading() {
    QFETCH(bool, cancel);
    writeFile(onDevice(kClip), pattern(16 * kMiB));
    {
        AFCReadStream stream = m_bridge->readStream(kUdid, kClip, std::nullopt);
        const std::optional<QByteArray> first = runSync(stream.next());
        QVERIFY(first);
        QCOMPARE(first->size(), kMiB);
        if (cancel) {
            std::stop_source stop;
            stop.request_stop();
            QVERIFY(failureOf<async::CancelledError>(stream.next(stop.get_token())));
            QVERIFY(!runSync(stream.next()));
        }
    }
    // Jobs run in order: once this answers, the stream's close has been sent.
    runSync(m_bridge->fileInfo(kUdid, QStringLiteral("/DCIM"), std::nullopt));

    QCOMPARE(countRequests("FILE_CLOSE"), size_t(1));
    QVERIFY(countRequests("FILE_READ") <= 2); // the chunk handed out and at most one read ahead
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::readStreamAfterDisconnectFailsWithoutTouchingFreedHandles() {
    writeFile(onDevice(kClip), pattern(8 * kMiB));
    AFCReadStream stream = m_bridge->readStream(kUdid, kClip, std::nullopt);
    QVERIFY(runSync(stream.next()));
    // Reconnected at once: the file handle belonged to the client that disconnectAll freed, and the
    // new session's client must not be asked about it.
    runSync(m_bridge->disconnectAll(kUdid));
    runSync(m_bridge->connect(kUdid));
    emulator().log().clear();

    // The chunk read ahead before the disconnect is still handed out; nothing is read after it.
    QVERIFY(runSync(stream.next()));
    QCOMPARE(failureText<AFCError>(stream.next()), QStringLiteral("No AFC session for device ") + kUdid);
    QVERIFY(!runSync(stream.next()));
    QCOMPARE(countRequests("FILE_READ"), size_t(0));
    QCOMPARE(countRequests("FILE_CLOSE"), size_t(0));
    QCOMPARE(m_device->openHandles(), 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeFiles)
#include "tst_AFCBridgeFiles.moc"
