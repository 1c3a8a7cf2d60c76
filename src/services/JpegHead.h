#pragma once

#include <QByteArray>

#include <optional>

// What the first bytes of a JPEG file tell without decoding it. A device photo is read only by
// its head, and a decoder handed a cut-off file paints whatever it could not read in grey and
// reports success; these checks tell such a head from a whole picture, and find the small
// picture a camera stores in the EXIF block near the start. Every offset read from the bytes is
// checked against their length: the bytes come from a device.
class JpegHead {
public:
    struct ExifThumbnail {
        QByteArray jpeg;
        // The EXIF orientation (1 to 8) of the main picture, which the thumbnail shares.
        int orientation = 1;
    };

    // Whether bytes hold the main picture up to its end-of-image marker: its last scan is
    // complete. Whatever follows (a second picture of a multi-picture file) does not count.
    static bool holdsWholeImage(const QByteArray& bytes);

    // The EXIF thumbnail (IFD1, JPEG-compressed) of the picture, when it has one and its bytes
    // lie entirely within bytes.
    static std::optional<ExifThumbnail> exifThumbnail(const QByteArray& bytes);

    JpegHead() = delete;
};
