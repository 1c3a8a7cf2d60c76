#include "TestMedia.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <libheif/heif.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const QRgb quadrants[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)};

QString colourName(QRgb pixel) {
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    const auto high = [](int v) {
        return v > 150;
    };
    const auto low = [](int v) {
        return v < 100;
    };
    if (high(r) && low(g) && low(b))
        return QStringLiteral("red");
    if (low(r) && high(g) && low(b))
        return QStringLiteral("green");
    if (low(r) && low(g) && high(b))
        return QStringLiteral("blue");
    if (high(r) && high(g) && low(b))
        return QStringLiteral("yellow");
    if (std::abs(r - g) < 24 && std::abs(g - b) < 24 && std::abs(r - b) < 24)
        return QStringLiteral("grey");
    return QStringLiteral("other");
}

void appendBigEndian(QByteArray& bytes, quint32 value, int size) {
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xff));
}

// One 12-byte directory entry holding a single SHORT (type 3) or LONG (type 4).
void appendEntry(QByteArray& tiff, quint32 tag, quint32 type, quint32 value) {
    appendBigEndian(tiff, tag, 2);
    appendBigEndian(tiff, type, 2);
    appendBigEndian(tiff, 1, 4);
    if (type == 3) {
        appendBigEndian(tiff, value, 2);
        appendBigEndian(tiff, 0, 2);
    } else {
        appendBigEndian(tiff, value, 4);
    }
}

struct HeifDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
    void operator()(heif_image* image) const { heif_image_release(image); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};
template <typename T> using HeifPointer = std::unique_ptr<T, HeifDeleter>;

QString runFfmpeg(const QStringList& arguments) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        return QStringLiteral("the ffmpeg tool is not installed (scripts/install-deps installs it)");
    QProcess process;
    QStringList all{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                    QStringLiteral("-y")};
    all += arguments;
    process.start(ffmpeg, all);
    // Only keeps a broken tool from hanging the run; a two-second clip takes a fraction of that.
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        return QStringLiteral("ffmpeg failed: ") + QString::fromUtf8(process.readAllStandardError());
    }
    return {};
}

} // namespace

QImage quadrantImage(QSize size, int noise, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    quint32 state = seed;
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int row = y < size.height() / 2 ? 0 : 2;
        for (int x = 0; x < size.width(); ++x) {
            const QRgb base = quadrants[row + (x < size.width() / 2 ? 0 : 1)];
            if (noise == 0) {
                line[x] = base;
                continue;
            }
            state = state * 1664525u + 1013904223u;
            const int delta = int(state >> 24) % (noise + 1);
            const auto vary = [delta](int v) {
                return v > 127 ? v - delta : v + delta;
            };
            line[x] = qRgb(vary(qRed(base)), vary(qGreen(base)), vary(qBlue(base)));
        }
    }
    return image;
}

QString quadrantColours(const QImage& image) {
    if (image.isNull())
        return QStringLiteral("null");
    const int w = image.width(), h = image.height();
    QStringList names;
    for (const QPoint point : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4),
                               QPoint(3 * w / 4, 3 * h / 4)})
        names.append(colourName(image.pixel(point)));
    return names.join(u' ');
}

QByteArray jpegBytes(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

QByteArray withExif(const QByteArray& jpeg, int orientation, const QByteArray& thumbnailJpeg) {
    // Big-endian TIFF: header, IFD0 with the orientation, then IFD1 and the thumbnail after it.
    QByteArray tiff("MM\0\x2a", 4);
    appendBigEndian(tiff, 8, 4);
    const bool thumbnail = !thumbnailJpeg.isEmpty();
    appendBigEndian(tiff, 1, 2);
    appendEntry(tiff, 0x0112, 3, quint32(orientation));
    const quint32 ifd1 = 8 + 2 + 12 + 4;
    appendBigEndian(tiff, thumbnail ? ifd1 : 0, 4);
    if (thumbnail) {
        const quint32 data = ifd1 + 2 + 3 * 12 + 4;
        appendBigEndian(tiff, 3, 2);
        appendEntry(tiff, 0x0103, 3, 6); // compression: JPEG
        appendEntry(tiff, 0x0201, 4, data);
        appendEntry(tiff, 0x0202, 4, quint32(thumbnailJpeg.size()));
        appendBigEndian(tiff, 0, 4);
        tiff += thumbnailJpeg;
    }
    QByteArray segment("\xff\xe1", 2);
    appendBigEndian(segment, quint32(2 + 6 + tiff.size()), 2);
    segment += QByteArray("Exif\0\0", 6) + tiff;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QString writeHeic(const QString& path, const QImage& image, int orientation, int thumbnailSide) {
    const HeifPointer<heif_context> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    heif_error error = heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder);
    if (error.code != heif_error_Ok)
        return QStringLiteral("no HEVC encoder: ") + QString::fromUtf8(error.message);
    const HeifPointer<heif_encoder> encoder(rawEncoder);
    heif_encoder_set_logging_level(encoder.get(), 0);
    heif_encoder_set_lossy_quality(encoder.get(), 85);

    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* rawImage = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage);
    const HeifPointer<heif_image> heifImage(rawImage);
    heif_image_add_plane(heifImage.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(heifImage.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);

    const HeifPointer<heif_encoding_options> options(heif_encoding_options_alloc());
    options->image_orientation = heif_orientation(orientation);
    heif_image_handle* rawHandle = nullptr;
    error =
        heif_context_encode_image(context.get(), heifImage.get(), encoder.get(), options.get(), &rawHandle);
    if (error.code != heif_error_Ok)
        return QStringLiteral("encoding failed: ") + QString::fromUtf8(error.message);
    const HeifPointer<heif_image_handle> handle(rawHandle);
    if (thumbnailSide > 0) {
        heif_image_handle* rawThumbnail = nullptr;
        error = heif_context_encode_thumbnail(context.get(), heifImage.get(), handle.get(), encoder.get(),
                                              options.get(), thumbnailSide, &rawThumbnail);
        if (error.code != heif_error_Ok || !rawThumbnail)
            return QStringLiteral("thumbnail encoding failed: ") + QString::fromUtf8(error.message);
        heif_image_handle_release(rawThumbnail);
    }
    error = heif_context_write_to_file(context.get(), QFile::encodeName(path).constData());
    if (error.code != heif_error_Ok)
        return QStringLiteral("writing failed: ") + QString::fromUtf8(error.message);
    return {};
}

QString makeClip(const QString& path, QSize size, int rotation) {
    const int w = size.width(), h = size.height();
    const QString picture = QStringLiteral("color=c=red:s=%1x%2:r=10:d=2,"
                                           "drawbox=x=%3:y=0:w=%3:h=%4:color=lime:t=fill,"
                                           "drawbox=x=0:y=%4:w=%3:h=%4:color=blue:t=fill,"
                                           "drawbox=x=%3:y=%4:w=%3:h=%4:color=yellow:t=fill")
                                .arg(w)
                                .arg(h)
                                .arg(w / 2)
                                .arg(h / 2);
    const QString encoded = rotation == 0 ? path : path + QStringLiteral(".unrotated.mov");
    const QStringList encode =
        QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), picture} +
        QStringLiteral("-c:v libx265 -x265-params log-level=error -pix_fmt yuv420p -tag:v hvc1").split(u' ') +
        QStringList{encoded};
    if (QString failure = runFfmpeg(encode); !failure.isEmpty() || rotation == 0)
        return failure;
    // The display matrix is written by a stream copy that sets the rotate tag.
    const QStringList rotate{QStringLiteral("-i"),
                             encoded,
                             QStringLiteral("-c"),
                             QStringLiteral("copy"),
                             QStringLiteral("-metadata:s:v:0"),
                             QStringLiteral("rotate=%1").arg(rotation),
                             path};
    const QString failure = runFfmpeg(rotate);
    QFile::remove(encoded);
    return failure;
}
