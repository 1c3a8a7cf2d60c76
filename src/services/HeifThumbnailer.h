#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Thumbnails of HEIC and HEIF pictures through libheif, on the calling thread. A phone stores a
// small rendition beside each photo; decoding that costs a fraction of decoding the 12-megapixel
// picture, so it is taken whenever it is large enough and shaped like the picture. The
// rotation and mirroring the file asks for are applied, to the thumbnail as to the picture.
class HeifThumbnailer {
public:
    // Whether these first bytes of a file (12 or more) start a HEIF file libheif can decode.
    static bool recognises(const QByteArray& head);

    // The picture scaled to at most maxPixels on its longer side; a null image when the file
    // cannot be read or decoded.
    static QImage thumbnail(const QString& path, int maxPixels);

    HeifThumbnailer() = delete;
};
