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

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bumped when the demo files change, so that an old demo folder is filled again.
constexpr const char* completeMarker = ".demo-complete-1";

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
    std::fprintf(stderr, "device-emulator: making the demo files in %s\n", qPrintable(folder));
    const QString cameraRoll = root.filePath(QStringLiteral("iphone/media/DCIM/100APPLE"));
    if (!QDir().mkpath(cameraRoll) || !writePhotos(cameraRoll, error) || !writeDocuments(folder, error))
        return false;
    writeClips(cameraRoll);
    return writeFile(root.filePath(QLatin1String(completeMarker)), QByteArray(), error);
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

bool DemoContent::writePhotos(const QString& cameraRoll, QString& error) {
    using Painter = void (*)(QPainter&, const QRectF&);
    const struct {
        const char* name;
        QSize size;
        Painter paint;
    } photos[] = {
        {"IMG_0001.JPG", QSize(4032, 3024), paintSunset},
        {"IMG_0002.JPG", QSize(4032, 3024), paintSea},
        {"IMG_0003.JPG", QSize(3024, 4032), paintShapes},
    };
    int index = 0;
    for (const auto& photo : photos) {
        QImage image(photo.size, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            photo.paint(painter, QRectF(QPointF(0, 0), QSizeF(photo.size)));
        }
        const QString path = QDir(cameraRoll).filePath(QLatin1String(photo.name));
        if (!image.save(path, "JPEG", 88)) {
            error = QStringLiteral("cannot write %1 (is the Qt JPEG plugin installed?)").arg(path);
            return false;
        }
        setDate(path, takenAt(index++));
    }
    return true;
}

void DemoContent::writeClips(const QString& cameraRoll) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::fprintf(stderr, "device-emulator: ffmpeg not found; the demo camera roll has no videos\n");
        return;
    }
    const struct {
        const char* name;
        const char* source;
    } clips[] = {{"IMG_0004.MOV", "testsrc=duration=3:size=1280x720:rate=30"},
                 {"IMG_0005.MP4", "testsrc2=duration=3:size=1280x720:rate=30"}};
    int index = 3;
    for (const auto& clip : clips) {
        const QString path = QDir(cameraRoll).filePath(QLatin1String(clip.name));
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // main() blocks SIGINT and SIGTERM for its own threads; ffmpeg must still stop on Ctrl-C.
        process.setChildProcessModifier([] {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
        });
        process.start(ffmpeg, {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                               QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                               QStringLiteral("lavfi"), QStringLiteral("-i"), QLatin1String(clip.source),
                               QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                               QStringLiteral("sine=frequency=440:duration=3"), QStringLiteral("-pix_fmt"),
                               QStringLiteral("yuv420p"), QStringLiteral("-shortest"), path});
        // Making a three-second clip takes a moment; the limit only stops a hung ffmpeg.
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            process.kill();
            process.waitForFinished();
            QFile::remove(path);
            std::fprintf(stderr, "device-emulator: ffmpeg could not make %s; it is left out\n", clip.name);
            continue;
        }
        setDate(path, takenAt(index++));
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
        {"iphone/apps/notes/Documents/Welcome.txt",
         "Welcome to Notes.\nFiles you drop here appear on the phone.\n"},
        {"iphone/apps/notes/Documents/Quarterly Report.pdf", pdfWithTitle("Quarterly Report")},
        {"iphone/apps/notes/Documents/Drafts/Ideas.txt", "- a garden bench\n- call the plumber\n"},
        {"iphone/apps/notes/Library/Preferences/com.example.notes.plist",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n"},
        {"iphone/apps/reader/Documents/Reading List.txt", "The Left Hand of Darkness\nPiranesi\n"},
        {"iphone/apps/reader/Documents/Papers/Field Notes.pdf", pdfWithTitle("Field Notes")},
        {"iphone/apps/game/Documents/progress.sav", QByteArray("\x01\x00\x00\x07level-7", 12)},
    };
    for (const auto& file : files) {
        if (!writeFile(root.filePath(QLatin1String(file.path)), file.bytes, error))
            return false;
    }
    return QDir().mkpath(root.filePath(QStringLiteral("iphone/media/Recordings")));
}
