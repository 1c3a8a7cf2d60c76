#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Thumbnails of still pictures, on the calling thread (a background executor: decoding a photo
// takes tens of milliseconds). HEIC and HEIF go to libheif, everything else to QImageReader, which
// decodes a JPEG straight at a fraction of its size. The picture's orientation is applied, and
// the longer side is at most maxPixels; smaller pictures keep their size.
class ImageThumbnailer {
public:
    // A null image when the file cannot be read or decoded.
    static QImage fromFile(const QString& path, int maxPixels);

    // What the first bytes of a JPEG make: the picture when they hold all of it, else the EXIF
    // thumbnail stored near its start. Neither: needsWholeFile, because decoding a cut-off JPEG
    // paints its missing part grey and still reports success.
    struct HeadResult {
        QImage image;
        bool needsWholeFile = false;
    };
    static HeadResult fromJpegHead(const QByteArray& head, int maxPixels);

    // The image turned and mirrored as an EXIF orientation (1 to 8) asks, the way a viewer shows it.
    static QImage oriented(QImage image, int exifOrientation);

    ImageThumbnailer() = delete;
};
