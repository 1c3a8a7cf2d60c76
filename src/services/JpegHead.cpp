#include "services/JpegHead.h"

#include <QList>

#include <algorithm>
#include <cstring>

namespace {

constexpr uchar markerStart = 0xFF;
constexpr uchar startOfImage = 0xD8;
constexpr uchar endOfImage = 0xD9;
constexpr uchar startOfScan = 0xDA;
constexpr uchar app1 = 0xE1;

bool isStandalone(uchar marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Walks the marker segments of a JPEG one after another. Offsets are qsizetype and every read is
// checked, so a length field that points past the end ends the walk instead of reading beyond.
class SegmentWalker {
public:
    explicit SegmentWalker(const QByteArray& bytes)
        : m_data(reinterpret_cast<const uchar*>(bytes.constData())), m_size(bytes.size()) {}

    bool startsAsJpeg() const { return m_size >= 4 && m_data[0] == markerStart && m_data[1] == startOfImage; }

    // The next marker, or nothing when the bytes end or are not a marker. After it, payload()
    // and payloadSize() describe the segment's contents (empty for a standalone marker).
    std::optional<uchar> next() {
        if (m_position >= m_size || m_data[m_position] != markerStart)
            return std::nullopt;
        // Any number of fill bytes may precede a marker.
        while (m_position < m_size && m_data[m_position] == markerStart)
            ++m_position;
        if (m_position >= m_size)
            return std::nullopt;
        const uchar marker = m_data[m_position++];
        m_payload = m_position;
        m_payloadSize = 0;
        if (marker == endOfImage || isStandalone(marker))
            return marker;
        if (m_position + 2 > m_size)
            return std::nullopt;
        const qsizetype length = (qsizetype(m_data[m_position]) << 8) | m_data[m_position + 1];
        if (length < 2)
            return std::nullopt;
        m_payload = m_position + 2;
        m_payloadSize = std::min(length - 2, m_size - m_payload);
        m_position += length;
        return marker;
    }

    // Past the entropy-coded data that follows a scan header, up to the next real marker: a 0xFF
    // inside the data is followed by a stuffed zero or is a restart marker. False when the bytes
    // end first.
    bool skipScanData() {
        while (m_position < m_size) {
            const void* found = std::memchr(m_data + m_position, markerStart, size_t(m_size - m_position));
            if (!found)
                return false;
            m_position = static_cast<const uchar*>(found) - m_data;
            if (m_position + 1 >= m_size)
                return false;
            const uchar following = m_data[m_position + 1];
            if (following == 0x00 || (following >= 0xD0 && following <= 0xD7))
                m_position += 2;
            else if (following == markerStart)
                m_position += 1;
            else
                return true;
        }
        return false;
    }

    const uchar* payload() const { return m_data + m_payload; }
    qsizetype payloadSize() const { return m_payloadSize; }

private:
    const uchar* m_data;
    qsizetype m_size;
    qsizetype m_position = 2;
    qsizetype m_payload = 0;
    qsizetype m_payloadSize = 0;
};

// The TIFF structure inside an EXIF block, in either byte order.
class TiffReader {
public:
    TiffReader(const uchar* data, qsizetype size) : m_data(data), m_size(size) {}

    bool readHeader() {
        if (m_size < 8)
            return false;
        if (m_data[0] == 'I' && m_data[1] == 'I')
            m_littleEndian = true;
        else if (m_data[0] == 'M' && m_data[1] == 'M')
            m_littleEndian = false;
        else
            return false;
        return u16(2) == 42;
    }

    std::optional<quint32> u16At(qsizetype offset) const {
        if (offset < 0 || offset + 2 > m_size)
            return std::nullopt;
        return u16(offset);
    }
    std::optional<quint32> u32At(qsizetype offset) const {
        if (offset < 0 || offset + 4 > m_size)
            return std::nullopt;
        return u32(offset);
    }

    struct Entry {
        quint32 tag;
        quint32 type;
        qsizetype valueOffset; // where a value of four bytes or fewer is stored
    };

    // The entries of the directory at offset, and the offset of the next directory (0: none).
    bool readDirectory(quint32 offset, QList<Entry>& entries, quint32& nextDirectory) const {
        const std::optional<quint32> count = u16At(offset);
        if (!count)
            return false;
        const qsizetype first = qsizetype(offset) + 2;
        for (quint32 i = 0; i < *count; ++i) {
            const qsizetype at = first + qsizetype(i) * 12;
            if (at + 12 > m_size)
                return false;
            entries.append({u16(at), u16(at + 2), at + 8});
        }
        nextDirectory = u32At(first + qsizetype(*count) * 12).value_or(0);
        return true;
    }

    // A SHORT or LONG value of one entry.
    std::optional<quint32> integerValue(const Entry& entry) const {
        if (entry.type == 3)
            return u16At(entry.valueOffset);
        if (entry.type == 4)
            return u32At(entry.valueOffset);
        return std::nullopt;
    }

private:
    quint32 u16(qsizetype at) const {
        return m_littleEndian ? quint32(m_data[at]) | quint32(m_data[at + 1]) << 8
                              : quint32(m_data[at]) << 8 | quint32(m_data[at + 1]);
    }
    quint32 u32(qsizetype at) const {
        return m_littleEndian ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }

    const uchar* m_data;
    qsizetype m_size;
    bool m_littleEndian = true;
};

constexpr quint32 orientationTag = 0x0112;
constexpr quint32 thumbnailOffsetTag = 0x0201;
constexpr quint32 thumbnailLengthTag = 0x0202;

std::optional<JpegHead::ExifThumbnail> thumbnailInExif(const uchar* data, qsizetype size) {
    static const char header[] = {'E', 'x', 'i', 'f', 0, 0};
    if (size < qsizetype(sizeof header) || std::memcmp(data, header, sizeof header) != 0)
        return std::nullopt;
    TiffReader tiff(data + sizeof header, size - qsizetype(sizeof header));
    if (!tiff.readHeader())
        return std::nullopt;

    QList<TiffReader::Entry> mainEntries;
    quint32 thumbnailDirectory = 0;
    if (!tiff.readDirectory(tiff.u32At(4).value_or(0), mainEntries, thumbnailDirectory) ||
        thumbnailDirectory == 0)
        return std::nullopt;
    int orientation = 1;
    for (const TiffReader::Entry& entry : mainEntries) {
        if (entry.tag == orientationTag) {
            const quint32 value = tiff.integerValue(entry).value_or(1);
            orientation = value >= 1 && value <= 8 ? int(value) : 1;
        }
    }

    QList<TiffReader::Entry> thumbnailEntries;
    quint32 ignored = 0;
    if (!tiff.readDirectory(thumbnailDirectory, thumbnailEntries, ignored))
        return std::nullopt;
    std::optional<quint32> offset;
    std::optional<quint32> length;
    for (const TiffReader::Entry& entry : thumbnailEntries) {
        if (entry.tag == thumbnailOffsetTag)
            offset = tiff.integerValue(entry);
        else if (entry.tag == thumbnailLengthTag)
            length = tiff.integerValue(entry);
    }
    const qsizetype tiffSize = size - qsizetype(sizeof header);
    if (!offset || !length || *length < 4 || qsizetype(*offset) + qsizetype(*length) > tiffSize)
        return std::nullopt;
    const uchar* start = data + sizeof header + *offset;
    if (start[0] != markerStart || start[1] != startOfImage)
        return std::nullopt;
    return JpegHead::ExifThumbnail{QByteArray(reinterpret_cast<const char*>(start), qsizetype(*length)),
                                   orientation};
}

} // namespace

bool JpegHead::holdsWholeImage(const QByteArray& bytes) {
    SegmentWalker walker(bytes);
    if (!walker.startsAsJpeg())
        return false;
    while (const std::optional<uchar> marker = walker.next()) {
        if (*marker == endOfImage)
            return true;
        // A progressive picture has several scans, each followed by its data.
        if (*marker == startOfScan && !walker.skipScanData())
            return false;
    }
    return false;
}

std::optional<JpegHead::ExifThumbnail> JpegHead::exifThumbnail(const QByteArray& bytes) {
    SegmentWalker walker(bytes);
    if (!walker.startsAsJpeg())
        return std::nullopt;
    // EXIF comes before the first scan; nothing after it is looked at.
    while (const std::optional<uchar> marker = walker.next()) {
        if (*marker == startOfScan || *marker == endOfImage)
            break;
        if (*marker != app1)
            continue;
        if (std::optional<ExifThumbnail> found = thumbnailInExif(walker.payload(), walker.payloadSize()))
            return found;
    }
    return std::nullopt;
}
