#include "DemoContent.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QRadialGradient>
#include <QStandardPaths>
#include <QTimeZone>

#include <libheif/heif.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

// Bumped when the demo files change, so that an old demo folder is filled again.
constexpr const char* completeMarker = ".demo-complete-2";

// The phone's camera roll and the companion recorder's folder, below the demo folder.
constexpr const char* cameraRollPath = "iphone/media/DCIM/100APPLE";
constexpr const char* recordingsPath = "iphone/apps/tavolet/Documents/Recordings";

// The camera roll's files are dated a few days apart, as a phone's would be.
QDateTime takenAt(int index) {
    return QDateTime(QDate(2024, 5, 18), QTime(9, 41), QTimeZone::utc())
        .addDays(index * 3)
        .addSecs(index * 4321);
}

void setDate(const QString& path, const QDateTime& when) {
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(when, QFileDevice::FileModificationTime);
}

bool writeFile(const QString& path, const QByteArray& bytes, QString& error) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// A small but well-formed PDF of one page with a title, so that viewers and type detection take it
// for what it claims to be.
QByteArray pdfWithTitle(const QByteArray& title) {
    const QByteArray stream = "BT /F1 28 Tf 72 720 Td (" + title + ") Tj ET";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

void paintSunset(QPainter& p, const QRectF& r) {
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(38, 42, 102));
    sky.setColorAt(0.55, QColor(236, 112, 72));
    sky.setColorAt(1, QColor(252, 204, 120));
    p.fillRect(r, sky);
    QRadialGradient sun(r.width() * 0.62, r.height() * 0.58, r.height() * 0.14);
    sun.setColorAt(0, QColor(255, 247, 214));
    sun.setColorAt(1, QColor(255, 190, 90, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(r.width() * 0.62, r.height() * 0.58), r.height() * 0.14, r.height() * 0.14);
    QPainterPath hills(QPointF(0, r.height()));
    hills.lineTo(0, r.height() * 0.72);
    hills.cubicTo(r.width() * 0.3, r.height() * 0.6, r.width() * 0.55, r.height() * 0.85, r.width(),
                  r.height() * 0.68);
    hills.lineTo(r.width(), r.height());
    p.setBrush(QColor(46, 38, 58));
    p.drawPath(hills);
}

void paintSea(QPainter& p, const QRectF& r) {
    QLinearGradient water(r.topLeft(), r.bottomLeft());
    water.setColorAt(0, QColor(170, 214, 240));
    water.setColorAt(0.45, QColor(120, 180, 220));
    water.setColorAt(0.46, QColor(18, 92, 140));
    water.setColorAt(1, QColor(8, 40, 70));
    p.fillRect(r, water);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 14; ++i) {
        const double y = r.height() * (0.5 + i * 0.035);
        QPainterPath wave(QPointF(0, y));
        for (double x = 0; x < r.width(); x += r.width() / 8)
            wave.quadTo(x + r.width() / 16, y - 12 - i, x + r.width() / 8, y);
        p.setPen(QPen(QColor(255, 255, 255, 40 + i * 6), 3 + i * 0.6));
        p.drawPath(wave);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 250, 250));
    QPolygonF sail{{r.width() * 0.30, r.height() * 0.30},
                   {r.width() * 0.30, r.height() * 0.47},
                   {r.width() * 0.40, r.height() * 0.47}};
    p.drawPolygon(sail);
}

void paintShapes(QPainter& p, const QRectF& r) {
    QLinearGradient back(r.topLeft(), r.bottomRight());
    back.setColorAt(0, QColor(244, 238, 228));
    back.setColorAt(1, QColor(214, 204, 190));
    p.fillRect(r, back);
    const QColor colours[] = {QColor(220, 72, 60), QColor(40, 120, 180), QColor(240, 190, 40),
                              QColor(60, 150, 100)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        p.setBrush(colours[i % 4]);
        const double size = std::min(r.width(), r.height()) * (0.05 + (i % 5) * 0.025);
        const QPointF centre(r.width() * (0.1 + 0.075 * i), r.height() * (0.25 + 0.45 * ((i * 7) % 5) / 4.0));
        if (i % 3 == 0)
            p.drawEllipse(centre, size, size);
        else if (i % 3 == 1)
            p.drawRect(QRectF(centre - QPointF(size, size), QSizeF(size * 2, size * 2)));
        else
            p.drawPolygon(QPolygonF{centre + QPointF(0, -size), centre + QPointF(size, size),
                                    centre + QPointF(-size, size)});
    }
}

void paintPhoto(QImage& image, void (*paint)(QPainter&, const QRectF&)) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
}

template <typename T, void (*release)(T*)> struct HeifReleaser {
    void operator()(T* p) const { release(p); }
};
using HeifContext = std::unique_ptr<heif_context, HeifReleaser<heif_context, heif_context_free>>;
using HeifEncoder = std::unique_ptr<heif_encoder, HeifReleaser<heif_encoder, heif_encoder_release>>;
using HeifImage = std::unique_ptr<heif_image, HeifReleaser<const heif_image, heif_image_release>>;

// An HEIC as a phone's camera writes it: HEVC, with a small thumbnail inside that browsers show
// before the whole picture is decoded. Empty on success, else what failed.
QString writeHeic(const QString& path, const QImage& picture) {
    const HeifContext context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    heif_error result =
        heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder);
    if (result.code != heif_error_Ok)
        return QStringLiteral("libheif has no HEVC encoder: ") + QString::fromUtf8(result.message);
    const HeifEncoder encoder(rawEncoder);
    heif_encoder_set_logging_level(encoder.get(), 0);
    heif_encoder_set_lossy_quality(encoder.get(), 80);
    // The slow presets buy a few per cent of size at many times the time; the demo wants the file
    // kind, not the best compression. Encoders that know no presets ignore it.
    heif_encoder_set_parameter(encoder.get(), "preset", "ultrafast");

    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    heif_image* rawImage = nullptr;
    result = heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                               &rawImage);
    if (result.code != heif_error_Ok)
        return QString::fromUtf8(result.message);
    const HeifImage image(rawImage);
    heif_image_add_plane(image.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);

    heif_image_handle* handle = nullptr;
    result = heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &handle);
    if (result.code != heif_error_Ok)
        return QString::fromUtf8(result.message);
    heif_image_handle* thumbnail = nullptr;
    result = heif_context_encode_thumbnail(context.get(), image.get(), handle, encoder.get(), nullptr, 320,
                                           &thumbnail);
    heif_image_handle_release(thumbnail);
    heif_image_handle_release(handle);
    if (result.code != heif_error_Ok)
        return QString::fromUtf8(result.message);
    result = heif_context_write_to_file(context.get(), QFile::encodeName(path).constData());
    return result.code == heif_error_Ok ? QString() : QString::fromUtf8(result.message);
}

} // namespace

QString DemoContent::defaultFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(QString::fromLocal8Bit(runtime)).isDir())
        return QDir(QString::fromLocal8Bit(runtime)).filePath(QStringLiteral("orvanta-demo"));
    return QStringLiteral("/tmp/orvanta-demo-%1").arg(::getuid());
}

bool DemoContent::prepare(const QString& folder, QString& error) {
    if (!makePrivateFolder(folder, error))
        return false;
    const QDir root(folder);
    if (root.exists(QLatin1String(completeMarker)))
        return true;
    std::fprintf(stderr, "device-emulator: making the demo files in %s (once; this takes a few seconds)\n",
                 qPrintable(folder));
    const QString cameraRoll = root.filePath(QLatin1String(cameraRollPath));
    if (!QDir().mkpath(cameraRoll) || !QDir().mkpath(root.filePath(QLatin1String(recordingsPath)))) {
        error = QStringLiteral("cannot make the folders of the demo in %1").arg(folder);
        return false;
    }
    // ffmpeg works in processes of its own while the pictures are painted and encoded here.
    Clips clips = startClips(folder);
    const bool written = writePhotos(folder, error) && writeDocuments(folder, error);
    finishClips(clips);
    return written && writeFile(root.filePath(QLatin1String(completeMarker)), QByteArray(), error);
}

bool DemoContent::makePrivateFolder(const QString& folder, QString& error) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        error =
            QStringLiteral("cannot make %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // In a shared /tmp another user could have made the folder first, or planted a link there.
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        error = QStringLiteral("%1 is not a private folder of this user; remove it or choose another with "
                               "--data-dir")
                    .arg(folder);
        return false;
    }
    return true;
}

bool DemoContent::writePhotos(const QString& folder, QString& error) {
    using Painter = void (*)(QPainter&, const QRectF&);
    const struct {
        const char* path;
        QSize size;
        Painter paint;
        int day;
    } photos[] = {
        {"iphone/media/DCIM/100APPLE/IMG_0001.JPG", QSize(4032, 3024), paintSunset, 0},
        {"iphone/media/DCIM/100APPLE/IMG_0002.JPG", QSize(4032, 3024), paintSea, 1},
        {"iphone/media/DCIM/100APPLE/IMG_0003.JPG", QSize(3024, 4032), paintShapes, 2},
        // What recent phones take by default.
        {"iphone/media/DCIM/100APPLE/IMG_0006.HEIC", QSize(4032, 3024), paintSea, 5},
        {"iphone/media/DCIM/100APPLE/IMG_0007.HEIC", QSize(3024, 4032), paintSunset, 6},
        {"ipad/media/DCIM/100APPLE/IMG_0001.JPG", QSize(3264, 2448), paintShapes, 1},
    };
    // A few pictures at a time on threads of their own: the HEVC encoder takes a while per
    // picture, and a first start should not keep a newcomer waiting for each in turn. A 12-megapixel
    // picture takes a few hundred MB while the HEVC encoder works on it, so two at a time (the list
    // is ordered so that no two HEICs meet).
    constexpr size_t atOnce = 2;
    const auto make = [&folder](const auto& photo) {
        const QString path = QDir(folder).filePath(QLatin1String(photo.path));
        if (!QDir().mkpath(QFileInfo(path).path()))
            return QStringLiteral("cannot make the folder of %1").arg(path);
        QImage image(photo.size, QImage::Format_RGB32);
        paintPhoto(image, photo.paint);
        QString failure;
        if (path.endsWith(QLatin1String(".HEIC")))
            failure = writeHeic(path, image);
        else if (!image.save(path, "JPEG", 88))
            failure = QStringLiteral("the Qt JPEG plugin is missing or failed");
        if (!failure.isEmpty())
            return QStringLiteral("cannot write %1: %2").arg(path, failure);
        setDate(path, takenAt(photo.day));
        return QString();
    };
    for (size_t first = 0; first < std::size(photos); first += atOnce) {
        std::vector<std::future<QString>> results;
        for (size_t i = first; i < std::min(first + atOnce, std::size(photos)); ++i)
            results.push_back(std::async(std::launch::async, make, photos[i]));
        for (auto& result : results) {
            const QString failure = result.get();
            if (!failure.isEmpty() && error.isEmpty())
                error = failure;
        }
    }
    return error.isEmpty();
}

DemoContent::Clips DemoContent::startClips(const QString& folder) {
    Clips clips;
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::fprintf(stderr, "device-emulator: ffmpeg not found; the demo has no videos and no recording\n");
        return clips;
    }
    const struct {
        const char* path;
        int day;
        QStringList arguments;
    } made[] = {
        {"iphone/media/DCIM/100APPLE/IMG_0004.MOV",
         3,
         {"-f", "lavfi", "-i", "testsrc=duration=3:size=1280x720:rate=30", "-f", "lavfi", "-i",
          "sine=frequency=440:duration=3", "-pix_fmt", "yuv420p", "-shortest"}},
        {"iphone/media/DCIM/100APPLE/IMG_0005.MP4",
         4,
         {"-f", "lavfi", "-i", "testsrc2=duration=3:size=1280x720:rate=30", "-f", "lavfi", "-i",
          "sine=frequency=440:duration=3", "-pix_fmt", "yuv420p", "-shortest"}},
        // A long 4K-class clip as a phone records it: about 200 MB, so that copies and previews take
        // long enough to watch. A constant bit rate padded with filler makes the size without the
        // encoder having to work for it: it takes seconds, not minutes.
        {"iphone/media/DCIM/100APPLE/IMG_0008.MOV",
         7,
         {"-f",           "lavfi",
          "-i",           "testsrc2=duration=20:size=1920x1080:rate=30",
          "-f",           "lavfi",
          "-i",           "sine=frequency=330:duration=20",
          "-c:v",         "libx264",
          "-preset",      "ultrafast",
          "-b:v",         "80M",
          "-minrate",     "80M",
          "-maxrate",     "80M",
          "-bufsize",     "16M",
          "-x264-params", "nal-hrd=cbr:filler=1",
          "-pix_fmt",     "yuv420p",
          "-c:a",         "aac",
          "-shortest"}},
        // What the companion recorder leaves in its Documents.
        {"iphone/apps/tavolet/Documents/Recordings/Rehearsal 2024-06-02.mov",
         15,
         {"-f", "lavfi", "-i", "smptebars=duration=4:size=1280x720:rate=30", "-f", "lavfi", "-i",
          "sine=frequency=523:duration=4", "-pix_fmt", "yuv420p", "-shortest"}},
    };
    // The default folder lies in $XDG_RUNTIME_DIR, a small tmpfs of memory on many systems: the long
    // video is only made where it leaves room for what a developer copies onto the device.
    constexpr const char* longVideo = "iphone/media/DCIM/100APPLE/IMG_0008.MOV";
    constexpr uint64_t longVideoRoom = 600ull << 20;
    struct statvfs fs {};
    const bool roomy = ::statvfs(QFile::encodeName(folder).constData(), &fs) == 0 &&
                       uint64_t(fs.f_bavail) * fs.f_frsize >= longVideoRoom;
    for (const auto& clip : made) {
        if (!roomy && std::strcmp(clip.path, longVideo) == 0) {
            std::fprintf(
                stderr,
                "device-emulator: less than %llu MB free in %s; the 200 MB video is left out (choose "
                "a roomier folder with --data-dir)\n",
                static_cast<unsigned long long>(longVideoRoom >> 20), qPrintable(folder));
            continue;
        }
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // main() blocks the stop signals for its own threads; ffmpeg must still stop on Ctrl-C, and
        // with the emulator when that is stopped on its own while the files are made.
        process->setChildProcessModifier([] {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        const QString path = QDir(folder).filePath(QLatin1String(clip.path));
        process->start(ffmpeg, QStringList{QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                                           QStringLiteral("error"), QStringLiteral("-y")} +
                                   clip.arguments + QStringList{path});
        clips.push_back({path, clip.day, std::move(process)});
    }
    return clips;
}

void DemoContent::finishClips(Clips& clips) {
    for (Clip& clip : clips) {
        // The long clip takes a few seconds; the limit only stops a hung ffmpeg.
        if (!clip.process->waitForFinished(300000) || clip.process->exitStatus() != QProcess::NormalExit ||
            clip.process->exitCode() != 0) {
            clip.process->kill();
            clip.process->waitForFinished();
            QFile::remove(clip.path);
            std::fprintf(stderr, "device-emulator: ffmpeg could not make %s; it is left out\n",
                         qPrintable(clip.path));
            continue;
        }
        setDate(clip.path, takenAt(clip.day));
    }
}

bool DemoContent::writeDocuments(const QString& folder, QString& error) {
    const QDir root(folder);
    const struct {
        const char* path;
        QByteArray bytes;
    } files[] = {
        {"iphone/media/Downloads/Boarding Pass.pdf", pdfWithTitle("Boarding Pass")},
        {"iphone/media/Books/Reading Notes.txt", "Chapter 3 is where it starts to get good.\n"},
        // Names too long for one line of an icon cell.
        {"iphone/media/Notes from the long walk along the northern coast.txt", "Day one: wind.\n"},
        {"iphone/media/Scanned receipts for the kitchen renovation 2024.pdf",
         pdfWithTitle("Scanned receipts")},
        {"iphone/apps/notes/Documents/Welcome.txt",
         "Welcome to Notes.\nFiles you drop here appear on the phone.\n"},
        {"iphone/apps/notes/Documents/Quarterly Report.pdf", pdfWithTitle("Quarterly Report")},
        {"iphone/apps/notes/Documents/Drafts/Ideas.txt", "- a garden bench\n- call the plumber\n"},
        {"iphone/apps/notes/Library/Preferences/com.example.notes.plist",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n"},
        {"iphone/apps/reader/Documents/Reading List.txt", "The Left Hand of Darkness\nPiranesi\n"},
        {"iphone/apps/reader/Documents/Papers/Field Notes.pdf", pdfWithTitle("Field Notes")},
        {"iphone/apps/game/Documents/progress.sav", QByteArray("\x01\x00\x00\x07level-7", 12)},
        {"ipad/media/Downloads/Owner's Manual.pdf", pdfWithTitle("Owner's Manual")},
        {"ipad/apps/reader/Documents/Sketchbook.txt", "Shapes to try: a spiral, a tessellation.\n"},
    };
    for (const auto& file : files) {
        if (!writeFile(root.filePath(QLatin1String(file.path)), file.bytes, error))
            return false;
    }
    return QDir().mkpath(root.filePath(QStringLiteral("iphone/media/Recordings")));
}
