#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The decoders inside the media module, each on the calling thread. The rest of the program
// reaches them through MediaDecoders, which loads the module on first use.
namespace media {

// Whether these first bytes of a file (12 or more) start a HEIF file libheif can decode.
bool heifRecognises(const QByteArray& head);
// A phone stores a small rendition beside each photo; decoding that costs a fraction of decoding
// the picture, so it is taken whenever it is large enough and shaped like the picture. The
// rotation and mirroring the file asks for are applied.
QImage heifThumbnail(const QString& path, int maxPixels);
QImage videoFrame(const QString& path, int maxPixels, QString* error);

} // namespace media
