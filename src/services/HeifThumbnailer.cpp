#include "services/HeifThumbnailer.h"

#include "services/MediaDecoders.h"

#include <array>

namespace {

// The brands of the HEIF family in the file's first box. Checked here first, so that the media
// module is loaded only for files that may be HEIF, never for every JPEG.
bool hasHeifBrand(const QByteArray& head) {
    static constexpr std::array<const char*, 10> brands{"heic", "heix", "heim", "heis", "hevc",
                                                        "hevx", "hevm", "hevs", "mif1", "msf1"};
    if (head.size() < 12 || head.mid(4, 4) != "ftyp")
        return false;
    const QByteArray brand = head.mid(8, 4);
    for (const char* known : brands) {
        if (brand == known)
            return true;
    }
    return false;
}

} // namespace

bool HeifThumbnailer::recognises(const QByteArray& head) {
    if (!hasHeifBrand(head))
        return false;
    const MediaDecoderTable* decoders = MediaDecoders::table();
    return decoders && decoders->heifRecognises(head);
}

QImage HeifThumbnailer::thumbnail(const QString& path, int maxPixels) {
    const MediaDecoderTable* decoders = MediaDecoders::table();
    return decoders ? decoders->heifThumbnail(path, maxPixels) : QImage();
}
