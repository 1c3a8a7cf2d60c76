#include "services/ImageThumbnailer.h"

#include "services/HeifThumbnailer.h"
#include "services/JpegHead.h"
#include "services/ThumbnailSize.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTransform>

namespace {

// How many bytes tell a HEIF file from others.
constexpr qint64 sniffBytes = 12;

// Decodes through the reader at the scaled size, so that a JPEG is decoded at 1/2, 1/4 or 1/8
// of its size instead of whole and then scaled.
QImage readScaled(QImageReader& reader, int maxPixels) {
    reader.setAutoTransform(true);
    // Before the orientation is applied: turning changes which side is longer, not the proportion.
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > maxPixels)
        reader.setScaledSize(size.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio));
    return boundedThumbnail(reader.read(), maxPixels);
}

QImage rotatedClockwise(const QImage& image, int degrees) {
    return image.transformed(QTransform().rotate(degrees));
}

} // namespace

QImage ImageThumbnailer::fromFile(const QString& path, int maxPixels) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (HeifThumbnailer::recognises(file.peek(sniffBytes))) {
        file.close();
        return HeifThumbnailer::thumbnail(path, maxPixels);
    }
    QImageReader reader(&file);
    return readScaled(reader, maxPixels);
}

ImageThumbnailer::HeadResult ImageThumbnailer::fromJpegHead(const QByteArray& head, int maxPixels) {
    if (JpegHead::holdsWholeImage(head)) {
        QByteArray bytes = head;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "jpeg");
        return {readScaled(reader, maxPixels), false};
    }
    const std::optional<JpegHead::ExifThumbnail> exif = JpegHead::exifThumbnail(head);
    if (!exif)
        return {{}, true};
    QImage small = QImage::fromData(exif->jpeg, "JPEG");
    if (small.isNull())
        return {{}, true};
    return {boundedThumbnail(oriented(std::move(small), exif->orientation), maxPixels), false};
}

QImage ImageThumbnailer::oriented(QImage image, int exifOrientation) {
    switch (exifOrientation) {
    case 2:
        return std::move(image).mirrored(true, false);
    case 3:
        return std::move(image).mirrored(true, true);
    case 4:
        return std::move(image).mirrored(false, true);
    case 5:
        return rotatedClockwise(std::move(image).mirrored(false, true), 90);
    case 6:
        return rotatedClockwise(image, 90);
    case 7:
        return rotatedClockwise(std::move(image).mirrored(true, false), 90);
    case 8:
        return rotatedClockwise(image, 270);
    default:
        return image;
    }
}

