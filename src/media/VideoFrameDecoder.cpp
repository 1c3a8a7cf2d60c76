#include "media/Decoders.h"

#include <QFile>

#include <libffmpegthumbnailer/videothumbnailer.h>

#include <exception>
#include <vector>

namespace {

const std::string seekTime = "00:00:01";

} // namespace

QImage media::videoFrame(const QString& path, int maxPixels, QString* error) {
    // No "smart" frame selection: it decodes many frames to skip dull ones, and the thumbnail is
    // meant to show the frame at one second. Embedded cover art is not the video's own frame.
    ffmpegthumbnailer::VideoThumbnailer thumbnailer(maxPixels, false, true, 8, false);
    thumbnailer.setPreferEmbeddedMetadata(false);
    thumbnailer.setSeekTime(seekTime);
    std::vector<uint8_t> pixels;
    try {
        const ffmpegthumbnailer::VideoFrameInfo info =
            thumbnailer.generateThumbnail(QFile::encodeName(path).toStdString(), Rgb, pixels);
        const qsizetype rowBytes = qsizetype(info.width) * 3;
        if (info.width <= 0 || info.height <= 0 || qsizetype(pixels.size()) < rowBytes * info.height) {
            *error = QStringLiteral("no frame was decoded");
            return {};
        }
        // Copied, because the pixels belong to the vector.
        return QImage(pixels.data(), info.width, info.height, rowBytes, QImage::Format_RGB888).copy();
    } catch (const std::exception& failure) {
        *error = QString::fromLocal8Bit(failure.what());
        return {};
    }
}
