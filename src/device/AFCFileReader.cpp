#include "device/AFCFileReader.h"

#include "device/AFCDeviceFile.h"
#include "platform/async/Cancellation.h"

#include <algorithm>

namespace {

// Room reserved up front. A limit near 4 GiB is a bound, not a size: reserving all of it would
// take memory the file may never fill.
constexpr uint32_t maxReserve = 64u << 20;

} // namespace

QByteArray AFCFileReader::readFile(afc_client_t afc, const QString& path, uint32_t maxBytes,
                                   uint32_t chunkBytes, std::stop_token token) {
    AFCDeviceFile file(afc, path, AFCDeviceFile::Mode::read);
    QByteArray data;
    data.reserve(static_cast<qsizetype>(std::min(maxBytes, maxReserve)));
    uint32_t collected = 0;
    while (collected < maxBytes) {
        async::throwIfCancelled(token);
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
