#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Pictures and clips for thumbnail tests and benchmarks, made on the spot so that no sample file
// of unknown origin is needed. Every one shows four coloured quadrants (red top left, green top
// right, blue bottom left, yellow bottom right), so that a thumbnail's orientation, and whether
// all of it was decoded, can be read off by quadrantColours().

// With noise, each pixel varies by up to that much (the same way on every run): JPEGs of it are
// large, as photos are, instead of a few kilobytes.
QImage quadrantImage(QSize size, int noise = 0, quint32 seed = 1);

// The colours at the centres of the four quadrants, top left, top right, bottom left, bottom
// right: "red", "green", "blue", "yellow", "grey" (what a decoder paints where data is missing) or
// "other"; "null" for a null image.
QString quadrantColours(const QImage& image);

QByteArray jpegBytes(const QImage& image, int quality = 90);

// The JPEG with an EXIF block put right after its start marker: the orientation (1 to 8) and,
// when given, a thumbnail (a small JPEG of at most 60 KiB), as cameras write them.
QByteArray withExif(const QByteArray& jpeg, int orientation, const QByteArray& thumbnailJpeg = {});

// A HEIC file by libheif's HEVC encoder, its rotation and mirroring given as an EXIF orientation;
// with a thumbnail of that many pixels on its longer side unless thumbnailSide is 0. Empty on
// success, else what failed.
QString writeHeic(const QString& path, const QImage& image, int orientation, int thumbnailSide);

// A 2-second HEVC clip in a QuickTime file made by the ffmpeg tool, whose display matrix turns it
// by rotation degrees (0 for none). Empty on success, else what failed.
QString makeClip(const QString& path, QSize size, int rotation);
