#include "device/AFCFileReader.h"

#include "device/AFCDeviceFile.h"

#include <algorithm>

namespace {

// Room reserved up front. A limit near 4 GiB is a bound, not a size: reserving all of it would
// take memory the file may never fill.
constexpr uint32_t kMaxReserve = 64u << 20;

} // namespace

QByteArray AFCFileReader::readFile(afc_client_t afc, const QString& path, uint32_t maxBytes,
                                   uint32_t chunkBytes) {
    AFCDeviceFile file(afc, path, AFC_FOPEN_RDONLY, "afc_file_open");
    QByteArray data;
    data.reserve(static_cast<qsizetype>(std::min(maxBytes, kMaxReserve)));
    uint32_t collected = 0;
    while (collected < maxBytes) {
        const uint32_t want = std::min(maxBytes - collected, chunkBytes);
        data.resize(static_cast<qsizetype>(collected) + want);
        const uint32_t got = file.read(data.data() + collected, want);
        collected += got;
        data.resize(collected);
        if (got == 0)
            break;
    }
    file.close();
    return data;
}
