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

    void listingJoinsPathsWithOneSlash_data();
    void listingJoinsPathsWithOneSlash();
    void unsafeAndUnreadableNamesAreSkippedAndLogged();
    void fileInfoNamesThePath();
    void downloadReportsProgressPerMiB_data();
    void downloadReportsProgressPerMiB();
    void cancelledDownloadRemovesPartialFile();
    void failedDownloadRemovesPartialFile_data();
    void failedDownloadRemovesPartialFile();
    void localWriteFailureKeepsErrno();
    void uploadCopiesAndReportsSize();
    void failedUploadLeavesNoDeviceFile_data();
    void failedUploadLeavesNoDeviceFile();
    void unplugDuringUploadFailsPromptly();
    void cancelledUploadRemovesDeviceFile();
    void copyCancelledBeforeItStartsKeepsTheOldTarget_data();
    void copyCancelledBeforeItStartsKeepsTheOldTarget();
    void itemOperations();
    void refusedItemOperations_data();
    void refusedItemOperations();
    void removeRecursivelyRemovesLinksNotTargets();
    void readFileStopsAtLimit_data();
    void readFileStopsAtLimit();
    void readStreamDeliversWholeFile();
    void abandonedReadStreamStopsReading_data();
    void abandonedReadStreamStopsReading();
    void readStreamReportsOpenFailure();
    void readStreamAfterDisconnectFailsWithoutTouchingFreedHandles();

private:
    QString onDevice(const QString& relative) const { return m_media + u'/' + relative; }
    QString local(const QString& name) { return scratchPath(QStringLiteral("local")) + u'/' + name; }

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

void tst_AFCBridgeFiles::listingJoinsPathsWithOneSlash_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("childPath");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/DCIM");
    QTest::newRow("below root") << QStringLiteral("/DCIM") << QStringLiteral("/DCIM/100APPLE");
}

void tst_AFCBridgeFiles::listingJoinsPathsWithOneSlash() {
    QFETCH(QString, folder);
    QFETCH(QString, childPath);
    const QList<AFCFileInfo> children = runSync(m_bridge->listDirectory(kUdid, folder, std::nullopt));
    QCOMPARE(children.size(), 1);
    QCOMPARE(children[0].value(QStringLiteral("Path")), childPath);
    QCOMPARE(children[0].value(QStringLiteral("Name")), QFileInfo(childPath).fileName());
    QCOMPARE(children[0].value(QStringLiteral("st_ifmt")), QStringLiteral("S_IFDIR"));
}

void tst_AFCBridgeFiles::unsafeAndUnreadableNamesAreSkippedAndLogged() {
    writeFile(onDevice(QStringLiteral("DCIM/IMG_0001.JPG")), "jpeg");
    m_device->faults().addHostileEntries("/DCIM", {"../x", "a/b", "..", "bad\xff"});
    LogCapture logs;

    const QList<AFCFileInfo> children =
        runSync(m_bridge->listDirectory(kUdid, QStringLiteral("/DCIM"), std::nullopt));

    QStringList names;
    for (const AFCFileInfo& child : children)
        names.append(child.value(QStringLiteral("Name")));
    names.sort();
    QCOMPARE(names, QStringList({QStringLiteral("100APPLE"), QStringLiteral("IMG_0001.JPG")}));
    const QStringList lines = logs.messages(kBridge);
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"../x\" in /DCIM")));
    QVERIFY(lines.contains(QStringLiteral("Skipped unsafe entry name \"a/b\" in /DCIM")));
    // Not valid UTF-8: the name read back is not the device's, so its facts cannot be read.
    QVERIFY2(lines.filter(QStringLiteral("File info failed: afc_get_file_info error 8")).size() == 1,
             qPrintable(lines.join(u'\n')));
    QCOMPARE(countRequests("GET_FILE_INFO", "/x"), size_t(0));
}

void tst_AFCBridgeFiles::fileInfoNamesThePath() {
    writeFile(onDevice(QStringLiteral("DCIM/100APPLE/IMG_0002.MOV")), pattern(1234));
    const AFCFileInfo info =
        runSync(m_bridge->fileInfo(kUdid, QStringLiteral("/DCIM/100APPLE/IMG_0002.MOV"), std::nullopt));
    QCOMPARE(info.value(QStringLiteral("Name")), QStringLiteral("IMG_0002.MOV"));
    QCOMPARE(info.value(QStringLiteral("Path")), QStringLiteral("/DCIM/100APPLE/IMG_0002.MOV"));
    QCOMPARE(info.value(QStringLiteral("st_size")), QStringLiteral("1234"));
    QCOMPARE(info.value(QStringLiteral("st_ifmt")), QStringLiteral("S_IFREG"));

    auto error = failureOf<AFCError>(m_bridge->fileInfo(kUdid, QStringLiteral("/missing"), std::nullopt));
    QVERIFY(error);
    QCOMPARE(error->description(), QStringLiteral("File info failed: afc_get_file_info failed for /missing"));
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
    writeFile(onDevice(QStringLiteral("DCIM/clip.mov")), bytes);
    // An existing target is replaced, and keeps its permissions.
    const QString target = local(QStringLiteral("clip.mov"));
    writeFile(target, pattern(size + 100));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0600) == 0);
    ProgressLog progress;

    auto copy = onMain ? m_bridge->downloadFile(kUdid, QStringLiteral("/DCIM/clip.mov"), URL::fileURL(target),
                                                std::nullopt, progress.downloadProgress())
                       : m_bridge->download(kUdid, QStringLiteral("/DCIM/clip.mov"), URL::fileURL(target),
                                            std::nullopt, progress.downloadProgress());
    const quint64 copied = runSync(std::move(copy));

    QCOMPARE(copied, quint64(size));
    QCOMPARE(progress.marks, marks);
    QCOMPARE(progress.allOnMain, onMain);
    QVERIFY(contents(target) == bytes);
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
}

void tst_AFCBridgeFiles::cancelledDownloadRemovesPartialFile() {
    writeFile(onDevice(QStringLiteral("DCIM/big.mov")), pattern(4 * kMiB));
    const QString target = local(QStringLiteral("big.mov"));
    m_device->faults().gateReads(kMiB);
    std::stop_source stop;

    auto task = m_bridge->download(kUdid, QStringLiteral("/DCIM/big.mov"), URL::fileURL(target), std::nullopt,
                                   {}, stop.get_token());
    QVERIFY(m_device->faults().waitUntilReadHeld());
    stop.request_stop();
    m_device->faults().releaseReads();

    QVERIFY(failureOf<async::CancelledError>(std::move(task)));
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(countRequests("FILE_READ"), size_t(2));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::failedDownloadRemovesPartialFile_data() {
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<QString>("description");
    QTest::newRow("unplugged") << true << QStringLiteral("File read failed: afc_file_read error 30");
    QTest::newRow("read error") << false << QStringLiteral("File read failed: afc_file_read error 4");
}

void tst_AFCBridgeFiles::failedDownloadRemovesPartialFile() {
    QFETCH(bool, unplug);
    QFETCH(QString, description);
    writeFile(onDevice(QStringLiteral("DCIM/big.mov")), pattern(6 * kMiB));
    const QString target = local(QStringLiteral("big.mov"));
    if (unplug)
        m_device->faults().unplugAfterAfcBytes(3 * kMiB);
    else
        m_device->faults().readErrorAt(2 * kMiB, 4);

    auto error = failureOf<AFCError>(
        m_bridge->download(kUdid, QStringLiteral("/DCIM/big.mov"), URL::fileURL(target), std::nullopt, {}));

    QVERIFY(error);
    QCOMPARE(error->description(), description);
    QVERIFY(!QFileInfo::exists(target));
}

void tst_AFCBridgeFiles::localWriteFailureKeepsErrno() {
    writeFile(onDevice(QStringLiteral("DCIM/a.mov")), pattern(kMiB / 2));

    const QString missingFolder = local(QStringLiteral("no/such/folder/a.mov"));
    auto openError = failureOf<AFCError>(m_bridge->download(kUdid, QStringLiteral("/DCIM/a.mov"),
                                                            URL::fileURL(missingFolder), std::nullopt, {}));
    QVERIFY(openError);
    QCOMPARE(
        openError->description(),
        QStringLiteral("File read failed: Failed to open output file at %1 (errno 2)").arg(missingFolder));
    QCOMPARE(openError->posixError(), std::optional<int>(ENOENT));

    // A full disk: the errno survives, and a target that is no regular file is never removed.
    const QString full = QStringLiteral("/dev/full");
    if (!QFileInfo::exists(full))
        QSKIP("/dev/full is missing");
    auto writeError = failureOf<AFCError>(
        m_bridge->download(kUdid, QStringLiteral("/DCIM/a.mov"), URL::fileURL(full), std::nullopt, {}));
    QVERIFY(writeError);
    QCOMPARE(writeError->description(), QStringLiteral("File read failed: write error (errno 28)"));
    QCOMPARE(writeError->posixError(), std::optional<int>(ENOSPC));
    QVERIFY(QFileInfo::exists(full));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::uploadCopiesAndReportsSize() {
    const QByteArray bytes = pattern(kMiB * 5 / 2);
    const QString source = local(QStringLiteral("up.bin"));
    writeFile(source, bytes);
    ProgressLog progress;

    const quint64 sent =
        runSync(m_bridge->uploadFile(kUdid, QStringLiteral("/DCIM/up.bin"), URL::fileURL(source),
                                     std::nullopt, progress.uploadProgress()));

    QCOMPARE(sent, quint64(bytes.size()));
    QVERIFY(contents(onDevice(QStringLiteral("DCIM/up.bin"))) == bytes);
    const qint64 size = bytes.size();
    QCOMPARE(progress.uploadMarks,
             (QList<std::pair<qint64, qint64>>{{kMiB, size}, {2 * kMiB, size}, {size, size}}));
}

void tst_AFCBridgeFiles::failedUploadLeavesNoDeviceFile_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("posixError");
    QTest::newRow("writes refused") << QStringLiteral("refuse")
                                    << QStringLiteral(
                                           "File open failed: afc_file_open(WR) error 10 for /DCIM/up.bin")
                                    << 0;
    QTest::newRow("device full") << QStringLiteral("quota")
                                 << QStringLiteral("AFC write failed: afc_file_write error 18") << 0;
    // A folder opens for reading, and then its read fails: that must not pass for an empty file.
    QTest::newRow("local read fails")
        << QStringLiteral("folder")
        << QStringLiteral("AFC write failed: Failed to read local file %1 (errno 21)") << EISDIR;
    QTest::newRow("local file missing")
        << QStringLiteral("missing")
        << QStringLiteral("AFC write failed: Failed to open local file %1 (errno 2)") << ENOENT;
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
    else if (fault == QLatin1String("folder"))
        source = scratchPath(QStringLiteral("local"));
    else
        source = local(QStringLiteral("missing.bin"));
    ProgressLog progress;

    auto error =
        failureOf<AFCError>(m_bridge->uploadFile(kUdid, QStringLiteral("/DCIM/up.bin"), URL::fileURL(source),
                                                 std::nullopt, progress.uploadProgress()));

    QVERIFY(error);
    QCOMPARE(error->description(), description.arg(source));
    QCOMPARE(error->posixError().value_or(0), posixError);
    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("DCIM/up.bin"))));
    QCOMPARE(m_device->openHandles(), 0);
    if (fault == QLatin1String("quota")) // the MiB that fitted was reported, nothing claims more
        QCOMPARE(progress.uploadMarks, (QList<std::pair<qint64, qint64>>{{kMiB, 3 * kMiB}}));
}

void tst_AFCBridgeFiles::unplugDuringUploadFailsPromptly() {
    const QString source = local(QStringLiteral("up.bin"));
    writeFile(source, pattern(6 * kMiB));
    m_device->faults().unplugAfterAfcBytes(2 * kMiB);
    LogCapture logs;

    auto error = failureOf<AFCError>(
        m_bridge->uploadFile(kUdid, QStringLiteral("/DCIM/up.bin"), URL::fileURL(source), std::nullopt));

    QVERIFY(error);
    QCOMPARE(error->description(), QStringLiteral("AFC write failed: afc_file_write error 30"));
    // The device is gone, so the partial file cannot be removed there; that is said, not hidden.
    QVERIFY(logs.messages(kBridge).contains(
        QStringLiteral("Could not remove partial upload /DCIM/up.bin: afc_remove_path error 30")));
}

void tst_AFCBridgeFiles::cancelledUploadRemovesDeviceFile() {
    const QString source = local(QStringLiteral("up.bin"));
    writeFile(source, pattern(3 * kMiB));
    m_device->faults().stallWrites();
    std::stop_source stop;

    auto task = m_bridge->uploadFile(kUdid, QStringLiteral("/DCIM/up.bin"), URL::fileURL(source),
                                     std::nullopt, {}, stop.get_token());
    QVERIFY(m_device->faults().waitUntilWriteStalled());
    stop.request_stop();
    m_device->faults().releaseWrites();

    QVERIFY(failureOf<async::CancelledError>(std::move(task)));
    QCOMPARE(countRequests("FILE_WRITE"), size_t(1));
    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("DCIM/up.bin"))));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::copyCancelledBeforeItStartsKeepsTheOldTarget_data() {
    QTest::addColumn<bool>("upload");
    QTest::newRow("download") << false;
    QTest::newRow("upload") << true;
}

void tst_AFCBridgeFiles::copyCancelledBeforeItStartsKeepsTheOldTarget() {
    QFETCH(bool, upload);
    // Both sides hold a file; the copy would replace the target, but is cancelled while queued.
    const QString deviceFile = onDevice(QStringLiteral("DCIM/a.mov"));
    const QString localFile = local(QStringLiteral("a.mov"));
    writeFile(deviceFile, "device");
    writeFile(localFile, "local");
    std::stop_source stop;
    stop.request_stop();

    auto copy = upload ? m_bridge->uploadFile(kUdid, QStringLiteral("/DCIM/a.mov"), URL::fileURL(localFile),
                                              std::nullopt, {}, stop.get_token())
                       : m_bridge->download(kUdid, QStringLiteral("/DCIM/a.mov"), URL::fileURL(localFile),
                                            std::nullopt, {}, stop.get_token());

    QVERIFY(failureOf<async::CancelledError>(std::move(copy)));
    QCOMPARE(contents(deviceFile), QByteArray("device"));
    QCOMPARE(contents(localFile), QByteArray("local"));
    QCOMPARE(countRequests("FILE_OPEN"), size_t(0));
}

void tst_AFCBridgeFiles::itemOperations() {
    writeFile(onDevice(QStringLiteral("DCIM/a.txt")), "a");
    LogCapture logs;

    runSync(m_bridge->makeDirectory(kUdid, QStringLiteral("/Books/New"), std::nullopt));
    runSync(m_bridge->renameItem(kUdid, QStringLiteral("/DCIM/a.txt"), QStringLiteral("/Books/New/b.txt"),
                                 std::nullopt));
    QCOMPARE(contents(onDevice(QStringLiteral("Books/New/b.txt"))), QByteArray("a"));
    runSync(m_bridge->removeItem(kUdid, QStringLiteral("/Books/New/b.txt"), std::nullopt));

    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("Books/New/b.txt"))));
    QCOMPARE(logs.messages(kBridge), QStringList({
                                         QStringLiteral("AFC mkdir: /Books/New"),
                                         QStringLiteral("AFC rename: /DCIM/a.txt → /Books/New/b.txt"),
                                         QStringLiteral("AFC removed: /Books/New/b.txt"),
                                     }));
}

void tst_AFCBridgeFiles::refusedItemOperations_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("description");
    QTest::newRow("remove") << QStringLiteral("remove")
                            << QStringLiteral("AFC delete failed: afc_remove_path error 10 for /DCIM/a.txt");
    QTest::newRow("rename") << QStringLiteral("rename")
                            << QStringLiteral(
                                   "AFC rename failed: afc_rename_path error 10: /DCIM/a.txt → /DCIM/b.txt");
    QTest::newRow("mkdir") << QStringLiteral("mkdir")
                           << QStringLiteral(
                                  "AFC make directory failed: afc_make_directory error 10 for /DCIM/New");
    QTest::newRow("non-empty folder")
        << QStringLiteral("remove folder")
        << QStringLiteral("AFC delete failed: afc_remove_path error 33 for /DCIM");
}

void tst_AFCBridgeFiles::refusedItemOperations() {
    QFETCH(QString, operation);
    QFETCH(QString, description);
    writeFile(onDevice(QStringLiteral("DCIM/a.txt")), "a");
    if (operation != QLatin1String("remove folder"))
        m_device->faults().refuseWrites(10);

    std::optional<AFCError> error;
    if (operation == QLatin1String("remove"))
        error = failureOf<AFCError>(m_bridge->removeItem(kUdid, QStringLiteral("/DCIM/a.txt"), std::nullopt));
    else if (operation == QLatin1String("rename"))
        error = failureOf<AFCError>(m_bridge->renameItem(kUdid, QStringLiteral("/DCIM/a.txt"),
                                                         QStringLiteral("/DCIM/b.txt"), std::nullopt));
    else if (operation == QLatin1String("mkdir"))
        error =
            failureOf<AFCError>(m_bridge->makeDirectory(kUdid, QStringLiteral("/DCIM/New"), std::nullopt));
    else
        error = failureOf<AFCError>(m_bridge->removeItem(kUdid, QStringLiteral("/DCIM"), std::nullopt));

    QVERIFY(error);
    QCOMPARE(error->description(), description);
    QVERIFY(QFileInfo::exists(onDevice(QStringLiteral("DCIM/a.txt"))));
}

void tst_AFCBridgeFiles::removeRecursivelyRemovesLinksNotTargets() {
    writeFile(onDevice(QStringLiteral("Trip/day1/a.jpg")), "a");
    writeFile(onDevice(QStringLiteral("Trip/b.jpg")), "b");
    writeFile(onDevice(QStringLiteral("Keep/c.jpg")), "c");
    QVERIFY(QFile::link(QStringLiteral("../Keep"), onDevice(QStringLiteral("Trip/link"))));
    m_device->faults().addHostileEntries("/Trip", {"../Keep"});

    runSync(m_bridge->removeRecursively(kUdid, QStringLiteral("/Trip"), std::nullopt));

    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("Trip"))));
    QCOMPARE(contents(onDevice(QStringLiteral("Keep/c.jpg"))), QByteArray("c"));
}

void tst_AFCBridgeFiles::readFileStopsAtLimit_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<uint>("limit");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("larger file") << 3 * kMiB << 524288u << qint64(524288);
    QTest::newRow("smaller file") << qint64(1000) << 524288u << qint64(1000);
    QTest::newRow("limit above a chunk") << 3 * kMiB << uint(2 * kMiB + 5) << 2 * kMiB + 5;
    QTest::newRow("zero") << qint64(1000) << 0u << qint64(0);
}

void tst_AFCBridgeFiles::readFileStopsAtLimit() {
    QFETCH(qint64, size);
    QFETCH(uint, limit);
    QFETCH(qint64, expected);
    const QByteArray bytes = pattern(size);
    writeFile(onDevice(QStringLiteral("DCIM/a.jpg")), bytes);

    const QByteArray read =
        runSync(m_bridge->readFile(kUdid, QStringLiteral("/DCIM/a.jpg"), limit, std::nullopt));

    QVERIFY(read == bytes.left(expected));
    QCOMPARE(m_device->openHandles(), 0);
}

void tst_AFCBridgeFiles::readStreamDeliversWholeFile() {
    const QByteArray bytes = pattern(kMiB * 5 / 2);
    writeFile(onDevice(QStringLiteral("DCIM/clip.mov")), bytes);
    AFCReadStream stream = m_bridge->readStream(kUdid, QStringLiteral("/DCIM/clip.mov"), std::nullopt);

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
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("consumer stops") << false;
    QTest::newRow("consumer cancelled") << true;
}

void tst_AFCBridgeFiles::abandonedReadStreamStopsReading() {
    QFETCH(bool, cancel);
    writeFile(onDevice(QStringLiteral("DCIM/long.mov")), pattern(16 * kMiB));
    {
        AFCReadStream stream = m_bridge->readStream(kUdid, QStringLiteral("/DCIM/long.mov"), std::nullopt);
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

void tst_AFCBridgeFiles::readStreamReportsOpenFailure() {
    AFCReadStream stream = m_bridge->readStream(kUdid, QStringLiteral("/DCIM/none.mov"), std::nullopt);
    auto error = failureOf<AFCError>(stream.next());
    QVERIFY(error);
    QCOMPARE(error->description(),
             QStringLiteral("File open failed: afc_file_open error 8 for /DCIM/none.mov"));
    QVERIFY(!runSync(stream.next()));
}

void tst_AFCBridgeFiles::readStreamAfterDisconnectFailsWithoutTouchingFreedHandles() {
    writeFile(onDevice(QStringLiteral("DCIM/long.mov")), pattern(8 * kMiB));
    AFCReadStream stream = m_bridge->readStream(kUdid, QStringLiteral("/DCIM/long.mov"), std::nullopt);
    QVERIFY(runSync(stream.next()));
    // Reconnected at once: the file handle belonged to the client that disconnectAll freed, and the
    // new session's client must not be asked about it.
    runSync(m_bridge->disconnectAll(kUdid));
    runSync(m_bridge->connect(kUdid));
    emulator().log().clear();

    // The chunk read ahead before the disconnect is still handed out; nothing is read after it.
    QVERIFY(runSync(stream.next()));
    auto error = failureOf<AFCError>(stream.next());
    QVERIFY(error);
    QCOMPARE(error->description(), QStringLiteral("No AFC session for device ") + kUdid);
    QVERIFY(!runSync(stream.next()));
    QCOMPARE(countRequests("FILE_READ"), size_t(0));
    QCOMPARE(countRequests("FILE_CLOSE"), size_t(0));
    QCOMPARE(m_device->openHandles(), 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeFiles)
#include "tst_AFCBridgeFiles.moc"
