#include "platform/PropertyList.h"

#include "platform/PlistDictionary.h"
#include "platform/PlistParsing.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

PlistPtr toPlist(const QVariant& value);

PlistPtr listToPlist(const QVariantList& list) {
    PlistPtr array(plist_new_array());
    for (const QVariant& element : list) {
        PlistPtr node = toPlist(element);
        if (!node)
            return nullptr;
        plist_array_append_item(array.get(), node.release());
    }
    return array;
}

PlistPtr toPlist(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        // libplist keeps a signed value in its unsigned node and writes it back as signed.
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return PlistPtr(plist_new_uint(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return PlistPtr(plist_new_real(value.toDouble()));
    case QMetaType::QString:
        return PlistPtr(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistPtr(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return listToPlist(value.toList());
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            PlistPtr node = toPlist(it.value());
            if (!node)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node.release());
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

std::optional<QVariant> fromPlist(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        const QString value = QString::fromUtf8(text);
        std::free(text);
        return QVariant(value);
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        const QByteArray value(bytes, static_cast<qsizetype>(length));
        std::free(bytes);
        return QVariant(value);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i)
            if (std::optional<QVariant> element = fromPlist(plist_array_get_item(node, i)))
                list.append(*element);
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        forEachDictionaryEntry(node, [&map](const char* key, plist_t item) {
            // Of a key that a damaged file holds twice the later value counts, as in the store's
            // values kept unread; when that one is unreadable, the key reads as absent.
            if (std::optional<QVariant> element = fromPlist(item))
                map.insert(QString::fromUtf8(key), *element);
            else
                map.remove(QString::fromUtf8(key));
            return true;
        });
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<QVariant> PropertyList::normalized(const QVariant& value) {
    // Bytes read back as the same bytes: the stored transfer history (megabytes after a camera
    // roll) is not copied twice through a plist node on the main thread.
    if (value.metaType() == QMetaType::fromType<QByteArray>())
        return value;
    const PlistPtr node = toPlist(value);
    if (!node)
        return std::nullopt;
    return fromPlist(node.get());
}

std::optional<QByteArray> PropertyList::toBinary(const QVariant& value) {
    const PlistPtr node = toPlist(value);
    if (!node)
        return std::nullopt;
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node.get(), &bytes, &length);
    if (!bytes)
        return std::nullopt;
    const QByteArray result(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    return result;
}

std::optional<QVariant> PropertyList::fromData(const QByteArray& data) {
    const PlistPtr root(parsePlist(data));
    if (!root)
        return std::nullopt;
    return fromPlist(root.get());
}

bool PropertyList::isBinary(const QByteArray& data) {
    return data.size() >= 8 && data.startsWith("bplist00");
}
