#include "platform/PlistParsing.h"

#include "platform/PlistDictionary.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr qsizetype trailerSize = 32;

// The big-endian unsigned number of width bytes at `at`; nothing when it lies outside the data.
std::optional<quint64> bigEndian(const QByteArray& data, quint64 at, quint64 width) {
    if (width < 1 || width > 8 || at > quint64(data.size()) || width > quint64(data.size()) - at)
        return std::nullopt;
    quint64 value = 0;
    for (quint64 i = 0; i < width; ++i)
        value = (value << 8) | static_cast<uchar>(data[qsizetype(at + i)]);
    return value;
}

// Visits the UTF-16 string objects of a binary plist (dictionary keys are string objects too):
// every object the library can reach is listed in the offset table, so every one is met. Gives
// each U+0000 to `nul`, which may change it, and stops early when `nul` returns false.
template <typename Nul> void forEachNulCharacter(QByteArray& data, Nul nul) {
    const qsizetype size = data.size();
    if (size < 8 + trailerSize)
        return;
    const qsizetype trailer = size - trailerSize;
    const quint64 offsetWidth = static_cast<uchar>(data[trailer + 6]);
    const std::optional<quint64> count = bigEndian(data, trailer + 8, 8);
    const std::optional<quint64> table = bigEndian(data, trailer + 24, 8);
    if (!count || !table || offsetWidth < 1 || offsetWidth > 8 || *table > quint64(size) ||
        *count > (quint64(size) - *table) / offsetWidth)
        return;
    for (quint64 i = 0; i < *count; ++i) {
        const std::optional<quint64> offset = bigEndian(data, *table + i * offsetWidth, offsetWidth);
        if (!offset || *offset >= quint64(size))
            continue;
        quint64 at = *offset;
        const uchar marker = static_cast<uchar>(data[qsizetype(at)]);
        if ((marker >> 4) != 0x6)
            continue;
        quint64 length = marker & 0xF;
        ++at;
        if (length == 0xF) {
            // The length follows as an integer object of 1, 2, 4 or 8 bytes.
            if (at >= quint64(size) || (static_cast<uchar>(data[qsizetype(at)]) >> 4) != 0x1)
                continue;
            const quint64 width = quint64(1) << (static_cast<uchar>(data[qsizetype(at)]) & 0xF);
            // A length wider than 64 bits is taken as "all the rest".
            const std::optional<quint64> counted =
                width <= 8 ? bigEndian(data, at + 1, width) : std::optional<quint64>(~quint64(0));
            at += 1 + width;
            if (!counted || at >= quint64(size))
                continue;
            length = *counted;
        }
        // The library refuses a string that runs past the data; the part inside is still looked at.
        const quint64 available = at < quint64(size) ? (quint64(size) - at) / 2 : 0;
        for (quint64 k = 0; k < std::min(length, available); ++k) {
            const qsizetype position = qsizetype(at + 2 * k);
            if (data[position] == '\0' && data[position + 1] == '\0' && !nul(position))
                return;
        }
    }
}

// Whether the objects reachable from a binary plist's root nest no deeper than the limit. Walks
// the offset table's objects without recursion; every container is measured once, however often
// it is referred to. Anything malformed is left to the library, which refuses it.
bool binaryNestingWithinLimit(const QByteArray& data) {
    const qsizetype size = data.size();
    if (size < 8 + trailerSize)
        return true;
    const qsizetype trailer = size - trailerSize;
    const quint64 offsetWidth = static_cast<uchar>(data[trailer + 6]);
    const quint64 referenceWidth = static_cast<uchar>(data[trailer + 7]);
    const std::optional<quint64> count = bigEndian(data, trailer + 8, 8);
    const std::optional<quint64> root = bigEndian(data, trailer + 16, 8);
    const std::optional<quint64> table = bigEndian(data, trailer + 24, 8);
    if (!count || !root || !table || offsetWidth < 1 || offsetWidth > 8 || referenceWidth < 1 ||
        referenceWidth > 8 || *table > quint64(size) || *count > (quint64(size) - *table) / offsetWidth ||
        *root >= *count)
        return true;

    // The references a container object holds: where they start and how many there are.
    const auto references = [&](quint64 object) -> std::pair<quint64, quint64> {
        const std::optional<quint64> offset = bigEndian(data, *table + object * offsetWidth, offsetWidth);
        if (!offset || *offset >= quint64(size))
            return {0, 0};
        quint64 at = *offset;
        const uchar marker = static_cast<uchar>(data[qsizetype(at)]);
        const uchar type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD)
            return {0, 0};
        quint64 length = marker & 0xF;
        ++at;
        if (length == 0xF) {
            if (at >= quint64(size) || (static_cast<uchar>(data[qsizetype(at)]) >> 4) != 0x1)
                return {0, 0};
            const quint64 width = quint64(1) << (static_cast<uchar>(data[qsizetype(at)]) & 0xF);
            const std::optional<quint64> counted = width <= 8 ? bigEndian(data, at + 1, width) : std::nullopt;
            if (!counted)
                return {0, 0};
            length = *counted;
            at += 1 + width;
        }
        // A dictionary lists its keys' references, then its values'.
        if (type == 0xD)
            length = length > std::numeric_limits<quint64>::max() / 2 ? 0 : length * 2;
        if (at > quint64(size) || length > (quint64(size) - at) / referenceWidth)
            return {0, 0};
        return {at, length};
    };

    // How deep the containers below each finished object nest, so that one reached again is
    // measured without walking it again.
    enum : char { unseen, open, done };
    std::vector<char> state(*count, unseen);
    std::vector<quint64> height(*count, 0);
    struct Frame {
        quint64 object;
        quint64 at;
        quint64 left;
        quint64 below = 0;
    };
    std::vector<Frame> stack;
    const auto enter = [&](quint64 object) {
        state[object] = open;
        const auto [at, length] = references(object);
        stack.push_back(Frame{object, at, length});
    };
    const quint64 limit = maximumPlistNesting;
    enter(*root);
    while (!stack.empty()) {
        if (stack.size() > limit)
            return false;
        Frame& frame = stack.back();
        if (frame.left == 0) {
            const quint64 object = frame.object;
            const quint64 own = frame.below + 1;
            state[object] = done;
            height[object] = own;
            stack.pop_back();
            if (!stack.empty())
                stack.back().below = std::max(stack.back().below, own);
            continue;
        }
        const std::optional<quint64> child = bigEndian(data, frame.at, referenceWidth);
        frame.at += referenceWidth;
        --frame.left;
        // A reference back into the open path is a cycle, which the library refuses.
        if (!child || *child >= *count || state[*child] == open)
            continue;
        if (state[*child] == done) {
            if (stack.size() + height[*child] > limit)
                return false;
            frame.below = std::max(frame.below, height[*child]);
            continue;
        }
        enter(*child);
    }
    return true;
}

// Whether the array and dictionary elements of XML plist text nest no deeper than the limit. A
// tag inside a comment counts as well, which errs on the safe side.
bool xmlNestingWithinLimit(const QByteArray& data) {
    int depth = 0;
    for (qsizetype at = data.indexOf('<'); at >= 0; at = data.indexOf('<', at + 1)) {
        const QByteArrayView rest = QByteArrayView(data).sliced(at + 1);
        const bool closing = rest.startsWith('/');
        const QByteArrayView name = closing ? rest.sliced(1) : rest;
        qsizetype nameLength = 0;
        if (name.startsWith("array"))
            nameLength = 5;
        else if (name.startsWith("dict"))
            nameLength = 4;
        else
            continue;
        const qsizetype end = data.indexOf('>', at);
        if (end < 0)
            break;
        // "<array/>" opens nothing; "<arrayx>" is another element.
        const QByteArrayView tag = QByteArrayView(data).sliced(at, end - at);
        const char after = name.size() > nameLength ? name[nameLength] : '>';
        if (after != '>' && after != '/' && after != ' ' && after != '\t' && after != '\n' && after != '\r')
            continue;
        if (closing)
            depth = std::max(0, depth - 1);
        else if (!tag.endsWith('/') && ++depth > maximumPlistNesting)
            return false;
    }
    return true;
}

bool isUtf8(const char* text, qsizetype length) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    // The decoder converts only when its result is taken.
    const QString decoded = decoder.decode(QByteArrayView(text, length));
    return !decoder.hasError();
}

QByteArray repairedUtf8(const char* text, qsizetype length) {
    return QString::fromUtf8(text, length).toUtf8();
}

// Replaces text that is not UTF-8 in strings and dictionary keys by its readable form.
void repairText(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        if (text && !isUtf8(text, qsizetype(length)))
            plist_set_string_val(node, repairedUtf8(text, qsizetype(length)).constData());
        return;
    }
    case PLIST_ARRAY: {
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i)
            repairText(plist_array_get_item(node, i));
        return;
    }
    case PLIST_DICT: {
        QList<QByteArray> brokenKeys;
        forEachDictionaryEntry(node, [&brokenKeys](const char* key, plist_t item) {
            repairText(item);
            if (!isUtf8(key, qsizetype(std::strlen(key))))
                brokenKeys.append(QByteArray(key));
            return true;
        });
        // Renamed once the walk is over; a repaired key that meets an existing one replaces it,
        // as a later duplicate key does when the file is read.
        for (const QByteArray& key : brokenKeys) {
            plist_t item = plist_copy(plist_dict_get_item(node, key.constData()));
            plist_dict_remove_item(node, key.constData());
            plist_dict_set_item(node, repairedUtf8(key.constData(), key.size()).constData(), item);
        }
        return;
    }
    default:
        return;
    }
}

} // namespace

plist_t parsePlist(const QByteArray& data) {
    if (data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max())
        return nullptr;
    QByteArray bytes = data;
    if (bytes.startsWith("bplist00")) {
        // Text lies before the offset table; the table itself is left as it is.
        const qsizetype table = qsizetype(bigEndian(bytes, bytes.size() - trailerSize + 24, 8).value_or(0));
        forEachNulCharacter(bytes, [&bytes, table](qsizetype position) {
            if (position + 1 < table) {
                bytes[position] = char(0xFF);
                bytes[position + 1] = char(0xFD);
            }
            return true;
        });
        // Objects that overlap may have changed one another by that; whatever still holds a
        // U+0000 now is no file anyone wrote.
        bool clean = true;
        forEachNulCharacter(bytes, [&clean](qsizetype) { return clean = false; });
        if (!clean || !binaryNestingWithinLimit(bytes))
            return nullptr;
    } else if (bytes.contains('\0') || !xmlNestingWithinLimit(bytes)) {
        return nullptr;
    }
    plist_t tree = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &tree);
    if (tree)
        repairText(tree);
    return tree;
}
