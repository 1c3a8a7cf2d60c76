#include "services/VideoFrameThumbnailer.h"

#include "services/MediaDecoders.h"

VideoFrameThumbnailer::Result VideoFrameThumbnailer::frame(const QString& path, int maxPixels) {
    const MediaDecoderTable* decoders = MediaDecoders::table();
    if (!decoders)
        return {{}, QStringLiteral("video decoding is not available: ") + MediaDecoders::loadError()};
    Result result;
    result.image = decoders->videoFrame(path, maxPixels, &result.error);
    return result;
}
