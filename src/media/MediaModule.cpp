#include "media/Decoders.h"
#include "services/MediaDecoders.h"

#include <QtGlobal>

namespace {

const MediaDecoderTable decoders{
    MediaDecoderTable::currentVersion,
    media::heifRecognises,
    media::heifThumbnail,
    media::videoFrame,
};

} // namespace

extern "C" Q_DECL_EXPORT const MediaDecoderTable* orvanta_media_decoders() {
    return &decoders;
}
