#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The decoders of HEIF pictures and video frames live in a module of their own, loaded on first
// use: libheif and ffmpeg bring about 140 shared libraries, and loading them at start-up would
// double the time to the first window for something only thumbnails and previews need.
struct MediaDecoderTable {
    // Raised when the table's shape changes, so that a stale module is refused, not called.
    static constexpr int currentVersion = 1;

    int version;
    // Whether these first bytes of a file start a HEIF file the decoder can read.
    bool (*heifRecognises)(const QByteArray& head);
    // The picture scaled to at most maxPixels on its longer side; null when it cannot be decoded.
    QImage (*heifThumbnail)(const QString& path, int maxPixels);
    // The frame at one second, scaled to fit maxPixels square; on failure a null image and the
    // library's own text in error.
    QImage (*videoFrame)(const QString& path, int maxPixels, QString* error);
};

// The module's one entry point, by name.
#define ORVANTA_MEDIA_ENTRY "orvanta_media_decoders"

class MediaDecoders {
public:
    // The decoders, loaded once by whichever thread asks first; null when the module is missing
    // or refused, with the reason in loadError(). Thread-safe.
    static const MediaDecoderTable* table();
    static QString loadError();

    MediaDecoders() = delete;
};
