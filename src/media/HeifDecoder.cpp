#include "media/Decoders.h"

#include "services/ThumbnailSize.h"

#include <QFile>

#include <libheif/heif.h>

#include <memory>
#include <vector>

namespace {

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;
using Image = std::unique_ptr<heif_image, ImageRelease>;

int width(const Handle& handle) {
    return heif_image_handle_get_width(handle.get());
}
int height(const Handle& handle) {
    return heif_image_handle_get_height(handle.get());
}

// Whether two sizes are both landscape, both portrait or both square. libheif gives sizes with
// rotation applied, so a thumbnail that disagrees with its picture would come out turned.
bool sameShape(int w1, int h1, int w2, int h2) {
    const auto shape = [](int w, int h) {
        return w > h ? 1 : (w < h ? -1 : 0);
    };
    return shape(w1, h1) == shape(w2, h2);
}

// Of the thumbnails shaped like the picture, the smallest that still fills maxPixels, else the
// largest; nothing when there is none.
Handle bestThumbnail(const Handle& primary, int maxPixels) {
    const int count = heif_image_handle_get_number_of_thumbnails(primary.get());
    if (count <= 0)
        return nullptr;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
    Handle best;
    int bestSide = 0;
    for (int i = 0; i < listed; ++i) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary.get(), ids[size_t(i)], &raw).code != heif_error_Ok)
            continue;
        Handle candidate(raw);
        const int side = std::max(width(candidate), height(candidate));
        if (!sameShape(width(candidate), height(candidate), width(primary), height(primary)))
            continue;
        const bool better =
            !best || (bestSide < maxPixels ? side > bestSide : side >= maxPixels && side < bestSide);
        if (better) {
            best = std::move(candidate);
            bestSide = side;
        }
    }
    return best;
}

QImage decode(const Handle& handle) {
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    // Ten-bit pictures come out as eight bits per channel, which is all a thumbnail shows.
    options->convert_hdr_to_8bit = 1;
    heif_image* raw = nullptr;
    const heif_error error =
        heif_decode_image(handle.get(), &raw, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok)
        return {};
    const Image image(raw);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0)
        return {};
    // Copied, because the pixels belong to the libheif image released below.
    return QImage(plane, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888).copy();
}

} // namespace

bool media::heifRecognises(const QByteArray& head) {
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(head.constData()), int(head.size())) ==
           heif_filetype_yes_supported;
}

QImage media::heifThumbnail(const QString& path, int maxPixels) {
    const Context context(heif_context_alloc());
    if (!context)
        return {};
    if (heif_context_read_from_file(context.get(), QFile::encodeName(path).constData(), nullptr).code !=
        heif_error_Ok)
        return {};
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok)
        return {};
    const Handle primary(raw);

    QImage image;
    if (const Handle thumbnail = bestThumbnail(primary, maxPixels))
        image = decode(thumbnail);
    // A thumbnail that does not decode is no reason to give up on the picture itself.
    if (image.isNull())
        image = decode(primary);
    return boundedThumbnail(std::move(image), maxPixels);
}
