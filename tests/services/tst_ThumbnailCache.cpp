#include "device/AFCBridge.h"
#include "platform/async/RunSync.h"
#include "services/ThumbnailCache.h"

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "RequestCount.h"
#include "TestFiles.h"
#include "TestMedia.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F71");
const QString album = QStringLiteral("/DCIM/100APPLE/");
// Stored quadrants (red green / blue yellow) as seen after a quarter turn clockwise (EXIF 6), and
// after the quarter turn counter-clockwise that the clip's display matrix asks for.
const QString upright = QStringLiteral("red green blue yellow");
const QString turnedClockwise = QStringLiteral("blue red yellow green");
const QString turnedCounterClockwise = QStringLiteral("green yellow red blue");

// A JPEG above the head size whose head ends inside its picture data, as a phone photo's does.
QImage largePhoto() {
    return quadrantImage(QSize(1200, 800), 60);
}

QByteArray smallJpeg(const QImage& picture) {
    return jpegBytes(picture.scaled(160, 107), 85);
}

// The media of every test, made once per run: encoding HEIC and clips takes a moment.
struct Media {
    QTemporaryDir folder;
    QString failure;

    QString path(const QString& name) const { return folder.filePath(name); }

    Media() {
        const QByteArray photo = jpegBytes(largePhoto(), 95);
        const bool written =
            writeTestFile(path(QStringLiteral("photo.jpg")), jpegBytes(quadrantImage(QSize(4000, 3000)))) &&
            writeTestFile(path(QStringLiteral("turned.jpg")), withExif(photo, 6, smallJpeg(largePhoto()))) &&
            writeTestFile(path(QStringLiteral("bare.jpg")), withExif(photo, 6)) &&
            quadrantImage(QSize(300, 200)).save(path(QStringLiteral("picture.png"))) &&
            writeTestFile(path(QStringLiteral("notes.txt")), "not a picture");
        if (!written)
            failure = QStringLiteral("cannot write test pictures");
        if (photo.size() <= qsizetype(ThumbnailCache::imageThumbnailHeadBytes))
            failure = QStringLiteral("the large photo fits in the head it should overflow");
        for (const QString& step :
             {writeHeic(path(QStringLiteral("photo.heic")), quadrantImage(QSize(640, 480)), 6, 320),
              makeClip(path(QStringLiteral("clip.mov")), QSize(320, 240), 90)}) {
            if (failure.isEmpty())
                failure = step;
        }
    }
};

const Media& media() {
    static const Media made;
    return made;
}

FileItem itemAt(const URL& url, const QString& name, FileKind kind, quint64 size) {
    return FileItem(url.absoluteString(), name, url, false, size, Date(), kind, std::nullopt);
}

FileKind kindOf(const QString& file) {
    if (file.endsWith(QStringLiteral(".mov")))
        return FileKind::video;
    return file.endsWith(QStringLiteral(".txt")) ? FileKind::document : FileKind::image;
}

} // namespace

class tst_ThumbnailCache : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void thumbnailsAreUprightAndSmall_data();
    void thumbnailsAreUprightAndSmall();
    void embeddedThumbnailTakesThePhotosOrientation_data();
    void embeddedThumbnailTakesThePhotosOrientation();
    void sizeLimitsDecideWhatIsFetched_data();
    void sizeLimitsDecideWhatIsFetched();
    void secondRequestWhileInFlightGetsNothingAtOnce();
    void aRequestThatAwaitsOthersGetsTheirImage();
    void fullCacheDropsTheOldestHundred();
    void rememberedCopyIsReusedWhileItsFileExists_data();
    void rememberedCopyIsReusedWhileItsFileExists();
    void failuresAreLoggedAndKeepNothing_data();
    void failuresAreLoggedAndKeepNothing();
    void hostileNamesStayInsideTheFolder_data();
    void hostileNamesStayInsideTheFolder();
    void removingCopiesLeavesOtherRunsAlone();

private:
    QString copyFolder() const {
        return scratchPath(QStringLiteral("tmp")) + QStringLiteral("/OrvantaThumbnails");
    }
    QStringList copiesLeft() const { return QDir(copyFolder()).entryList(QDir::Files | QDir::Hidden); }
    // Puts a test medium on the device (under another name when given) and returns its item.
    FileItem onDevice(const QString& file, const QString& name = {}) {
        const QString target = name.isEmpty() ? file : name;
        const QByteArray bytes = fileContents(media().path(file));
        writeTestFile(m_media + album + target, bytes);
        return deviceItem(target, kindOf(file), quint64(bytes.size()));
    }
    FileItem deviceItem(const QString& name, FileKind kind, quint64 size) const {
        return itemAt(URL::fromComponents(QStringLiteral("afc"), udid, album + name), name, kind, size);
    }
    FileItem onComputer(const QString& file) const {
        const QString path = media().path(file);
        return itemAt(URL::fileURL(path), file, kindOf(file), quint64(QFileInfo(path).size()));
    }
    QImage thumbnail(const FileItem& item, bool withBridge = true) {
        return runSync(m_cache->thumbnail(item, withBridge ? m_bridge.get() : nullptr));
    }
    // Evicts everything stored so far: the oldest go first.
    void fillCache() {
        for (int i = 0; i < ThumbnailCache::maxCacheSize; ++i)
            m_cache->store(QImage(1, 1, QImage::Format_RGB32),
                           URL::fileURL(QStringLiteral("/filler/%1").arg(i)));
    }

    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
    std::unique_ptr<ThumbnailCache> m_cache;
};

void tst_ThumbnailCache::init() {
    setUpTest();
    QVERIFY2(media().failure.isEmpty(), qPrintable(media().failure));
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    QDir().mkpath(m_media + album);
    addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    m_cache = std::make_unique<ThumbnailCache>(copyFolder());
}

void tst_ThumbnailCache::cleanup() {
    m_cache.reset();
    m_bridge.reset();
    tearDownTest();
}

void tst_ThumbnailCache::thumbnailsAreUprightAndSmall_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("device");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("colours");
    // On the device: whether a whole copy was made, rather than the head read alone.
    QTest::addColumn<bool>("copied");

    struct Row {
        const char* file;
        QSize size;
        QSize deviceSize;
        QString colours;
        bool copied;
    };
    const Row rows[] = {
        {"photo.jpg", {240, 180}, {240, 180}, upright, false},
        // The device reads the head only and takes the 160 x 107 EXIF thumbnail, turned.
        {"turned.jpg", {160, 240}, {107, 160}, turnedClockwise, false},
        // No EXIF thumbnail: the head alone would come out grey below its first part.
        {"bare.jpg", {160, 240}, {160, 240}, turnedClockwise, true},
        {"photo.heic", {180, 240}, {180, 240}, turnedClockwise, true},
        {"clip.mov", {180, 240}, {180, 240}, turnedCounterClockwise, true},
    };
    for (const Row& row : rows) {
        QTest::addRow("computer %s", row.file) << row.file << false << row.size << row.colours << false;
        QTest::addRow("device %s", row.file)
            << row.file << true << row.deviceSize << row.colours << row.copied;
    }
}

void tst_ThumbnailCache::thumbnailsAreUprightAndSmall() {
    QFETCH(QString, file);
    QFETCH(bool, device);
    QFETCH(QSize, size);
    QFETCH(QString, colours);
    QFETCH(bool, copied);

    const FileItem item = device ? onDevice(file) : onComputer(file);
    const QImage image = thumbnail(item);
    QCOMPARE(image.size(), size);
    QCOMPARE(quadrantColours(image), colours);
    QCOMPARE(copiesLeft().size(), copied ? 1 : 0);
    // A photo larger than the head is read by one request for the head alone.
    if (device && !copied && item.size() > ThumbnailCache::imageThumbnailHeadBytes)
        QCOMPARE(countAfcRequests("FILE_READ"), size_t(1));
    // Kept: asked again, it is not made again.
    emulator().log().clear();
    QCOMPARE(thumbnail(item), image);
    QCOMPARE(countAfcRequests("FILE_OPEN"), size_t(0));
}

void tst_ThumbnailCache::embeddedThumbnailTakesThePhotosOrientation_data() {
    QTest::addColumn<int>("orientation");
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("EXIF orientation %d", orientation) << orientation;
}

void tst_ThumbnailCache::embeddedThumbnailTakesThePhotosOrientation() {
    QFETCH(int, orientation);
    const QByteArray thumbnailJpeg = smallJpeg(quadrantImage(QSize(1200, 800)));
    QVERIFY(writeTestFile(m_media + album + QStringLiteral("IMG_0001.JPG"),
                          withExif(jpegBytes(largePhoto(), 95), orientation, thumbnailJpeg)));
    // What Qt shows for the small picture carrying the same orientation.
    QByteArray oriented = withExif(thumbnailJpeg, orientation);
    QBuffer buffer(&oriented);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QImage expected = reader.read();

    const QImage image = thumbnail(deviceItem(QStringLiteral("IMG_0001.JPG"), FileKind::image, 0));
    QCOMPARE(image.size(), expected.size());
    QCOMPARE(quadrantColours(image), quadrantColours(expected));
}

void tst_ThumbnailCache::sizeLimitsDecideWhatIsFetched_data() {
    QTest::addColumn<QString>("file");
    // Bytes of a file on the device made of zeros in place of the medium (0: the medium itself).
    QTest::addColumn<qint64>("zeros");
    QTest::addColumn<quint64>("listedSize");
    QTest::addColumn<bool>("withBridge");
    QTest::addColumn<bool>("gotImage");
    QTest::addColumn<bool>("opened");

    QTest::newRow("video of exactly 50,000,000 bytes")
        << "clip.mov" << qint64(0) << quint64(50'000'000) << true << true << true;
    QTest::newRow("video of 50,000,001 bytes")
        << "clip.mov" << qint64(0) << quint64(50'000'001) << true << false << false;
    // Its head is read, but it is not copied whole.
    QTest::newRow("JPEG without thumbnail of 10,000,001 bytes")
        << "bare.jpg" << qint64(0) << quint64(10'000'001) << true << false << true;
    QTest::newRow("video of unknown size over the limit")
        << "clip.mov" << qint64(50'000'001) << quint64(0) << true << false << false;
    QTest::newRow("PNG listed small, over the limit on the device")
        << "picture.png" << qint64(10'000'001) << quint64(1000) << true << false << true;
    QTest::newRow("image without a bridge")
        << "picture.png" << qint64(0) << quint64(0) << false << false << false;
}

void tst_ThumbnailCache::sizeLimitsDecideWhatIsFetched() {
    QFETCH(QString, file);
    QFETCH(qint64, zeros);
    QFETCH(quint64, listedSize);
    QFETCH(bool, withBridge);
    QFETCH(bool, gotImage);
    QFETCH(bool, opened);

    const FileItem medium = onDevice(file);
    if (zeros > 0) {
        QFile large(m_media + album + file);
        QVERIFY(large.open(QIODevice::WriteOnly | QIODevice::Truncate) && large.resize(zeros));
    }
    const FileItem item = deviceItem(medium.name(), medium.kind(), listedSize);
    QCOMPARE(thumbnail(item, withBridge).isNull(), !gotImage);
    QCOMPARE(countAfcRequests("FILE_OPEN") > 0, opened);
    QCOMPARE(copiesLeft().size(), gotImage ? 1 : 0);
}

void tst_ThumbnailCache::secondRequestWhileInFlightGetsNothingAtOnce() {
    const FileItem item = onDevice(QStringLiteral("clip.mov"));

    async::Task<QImage> first = m_cache->thumbnail(item, m_bridge.get());
    async::Task<QImage> second = m_cache->thumbnail(item, m_bridge.get());
    QVERIFY(!first.isReady());
    QVERIFY(second.isReady());
    QVERIFY(runSync(std::move(second)).isNull());
    const QImage made = runSync(std::move(first));
    QVERIFY(!made.isNull());

    // With its source gone, only the cache can answer.
    QVERIFY(QFile::remove(m_media + album + QStringLiteral("clip.mov")));
    QCOMPARE(thumbnail(item), made);
}

// Quick Look asking for the frame the preview pane is making: it waits for that frame.
void tst_ThumbnailCache::aRequestThatAwaitsOthersGetsTheirImage() {
    const FileItem item = onDevice(QStringLiteral("clip.mov"));

    async::Task<QImage> first = m_cache->thumbnail(item, m_bridge.get());
    async::Task<QImage> waiting = m_cache->thumbnailAwaitingOthers(item, m_bridge.get());
    QVERIFY(!waiting.isReady());
    const QImage made = runSync(std::move(first));
    QVERIFY(!made.isNull());
    QCOMPARE(runSync(std::move(waiting)), made);
}

void tst_ThumbnailCache::fullCacheDropsTheOldestHundred() {
    fillCache();
    QCOMPARE(m_cache->cachedCount(), ThumbnailCache::maxCacheSize);
    const FileItem item = onComputer(QStringLiteral("picture.png"));
    QVERIFY(!thumbnail(item).isNull());

    QCOMPARE(m_cache->cachedCount(), 401);
    QVERIFY(m_cache->cachedThumbnail(URL::fileURL(QStringLiteral("/filler/99"))).isNull());
    QVERIFY(!m_cache->cachedThumbnail(URL::fileURL(QStringLiteral("/filler/100"))).isNull());
    QVERIFY(!m_cache->cachedThumbnail(item.path()).isNull());
}

void tst_ThumbnailCache::rememberedCopyIsReusedWhileItsFileExists_data() {
    QTest::addColumn<bool>("copyGone");
    QTest::addColumn<bool>("withBridge");
    QTest::addColumn<bool>("gotImage");
    QTest::addColumn<bool>("copiedAgain");

    QTest::newRow("gone, with a bridge") << true << true << true << true;
    QTest::newRow("gone, without a bridge") << true << false << false << false;
}

void tst_ThumbnailCache::rememberedCopyIsReusedWhileItsFileExists() {
    QFETCH(bool, copyGone);
    QFETCH(bool, withBridge);
    QFETCH(bool, gotImage);
    QFETCH(bool, copiedAgain);

    const FileItem item = onDevice(QStringLiteral("clip.mov"), QStringLiteral("IMG_0003.MOV"));
    QVERIFY(!thumbnail(item).isNull());
    const QStringList copies = copiesLeft();
    QCOMPARE(copies.size(), 1);
    QVERIFY(copies.first().endsWith(QStringLiteral("_IMG_0003.MOV")));
    fillCache();
    QVERIFY(m_cache->cachedThumbnail(item.path()).isNull());
    if (copyGone)
        QVERIFY(QFile::remove(copyFolder() + u'/' + copies.first()));
    emulator().log().clear();

    QCOMPARE(thumbnail(item, withBridge).isNull(), !gotImage);
    QCOMPARE(countAfcRequests("FILE_OPEN") > 0, copiedAgain);
}

// At quit the cache removes the copies it made and forgets them; a file another run keeps in the
// same folder stays, and the thumbnails already made stay in memory.
void tst_ThumbnailCache::removingCopiesLeavesOtherRunsAlone() {
    const FileItem item = onDevice(QStringLiteral("clip.mov"), QStringLiteral("IMG_0003.MOV"));
    QVERIFY(!thumbnail(item).isNull());
    QCOMPARE(copiesLeft().size(), 1);
    QVERIFY(writeTestFile(copyFolder() + QStringLiteral("/other-run.MOV"), "movie"));

    m_cache->removeTemporaryCopies();
    QCOMPARE(copiesLeft(), QStringList{"other-run.MOV"});
    QVERIFY(!m_cache->cachedThumbnail(item.path()).isNull());
    // Forgotten: the next copy is made anew.
    fillCache();
    emulator().log().clear();
    QVERIFY(!thumbnail(item).isNull());
    QVERIFY(countAfcRequests("FILE_OPEN") > 0);
}

void tst_ThumbnailCache::failuresAreLoggedAndKeepNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("level");
    QTest::newRow("JPEG head unreadable")
        << "gone.JPG" << false << "^AFC JPEG thumbnail failed: .+" << int(QtDebugMsg);
    QTest::newRow("no frame in the video")
        << "broken.MOV" << true << "^Video thumbnail failed for -?[0-9a-f]+_broken\\.MOV: .+"
        << int(QtDebugMsg);
}

void tst_ThumbnailCache::failuresAreLoggedAndKeepNothing() {
    QFETCH(QString, name);
    QFETCH(bool, onDevice);
    QFETCH(QString, logged);
    QFETCH(int, level);
    if (onDevice)
        QVERIFY(writeTestFile(m_media + album + name, patternBytes(4096)));
    const FileItem item =
        deviceItem(name, name.endsWith(QStringLiteral(".MOV")) ? FileKind::video : FileKind::image, 4096);
    LogCapture logs;

    QVERIFY(thumbnail(item).isNull());
    QCOMPARE(copiesLeft(), QStringList());
    const QRegularExpression pattern(logged);
    bool found = false;
    for (const LogRecord& record : logs.records()) {
        found = found || (record.category == LogCapture::category(QStringLiteral("ui")) &&
                          record.level == QtMsgType(level) && pattern.match(record.message).hasMatch());
    }
    QVERIFY2(found, qPrintable(logs.messages().join(u'\n')));
    // Nothing was remembered: asked again, the device is asked again.
    QVERIFY(thumbnail(item).isNull());
    QCOMPARE(countAfcRequests("FILE_OPEN", (album + name).toStdString()), size_t(2));
}

void tst_ThumbnailCache::hostileNamesStayInsideTheFolder_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("climbing out") << "../../escape.png";
    QTest::newRow("absolute") << "/tmp/escape.png";
    QTest::newRow("too long for a file name") << QString(300, u'x') + QStringLiteral(".png");
}

void tst_ThumbnailCache::hostileNamesStayInsideTheFolder() {
    QFETCH(QString, name);
    QVERIFY(writeTestFile(m_media + album + QStringLiteral("IMG_0004.PNG"),
                          fileContents(media().path(QStringLiteral("picture.png")))));
    // A listing that named the file unsafely; the location itself is sound.
    const URL url = URL::fromComponents(QStringLiteral("afc"), udid, album + QStringLiteral("IMG_0004.PNG"));

    QVERIFY(!thumbnail(itemAt(url, name, FileKind::image, 0)).isNull());
    QStringList outside;
    for (QDirIterator it(scratchPath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        if (!path.startsWith(m_media + u'/'))
            outside.append(QDir(scratchPath()).relativeFilePath(path));
    }
    QCOMPARE(outside.size(), 1);
    QVERIFY2(outside.first().startsWith(QStringLiteral("tmp/OrvantaThumbnails/")),
             qPrintable(outside.first()));
    QVERIFY(!outside.first().mid(22).contains(u'/'));
}

ORVANTA_DEVICE_TEST_MAIN(tst_ThumbnailCache)
#include "tst_ThumbnailCache.moc"
