#include "PlistUtil.h"

namespace fakemux::PlistUtil {

Plist newDict() {
    return Plist(plist_new_dict());
}

Plist parse(const char* data, size_t size) {
    plist_t node = nullptr;
    if (size > 0 && size <= UINT32_MAX)
        plist_from_memory(data, static_cast<uint32_t>(size), &node);
    return Plist(node);
}

std::string toXml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string text(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return text;
}

std::optional<std::string> string(plist_t dict, const char* key) {
    plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!item || plist_get_node_type(item) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return std::string(text ? text : "", text ? length : 0);
}

std::optional<uint64_t> uint(plist_t dict, const char* key) {
    plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!item || plist_get_node_type(item) != PLIST_UINT)
        return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return value;
}

bool boolean(plist_t dict, const char* key, bool fallback) {
    plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!item || plist_get_node_type(item) != PLIST_BOOLEAN)
        return fallback;
    uint8_t value = 0;
    plist_get_bool_val(item, &value);
    return value != 0;
}

void setString(plist_t dict, const char* key, const std::string& value) {
    plist_dict_set_item(dict, key, plist_new_string(value.c_str()));
}

void setUint(plist_t dict, const char* key, uint64_t value) {
    plist_dict_set_item(dict, key, plist_new_uint(value));
}

void setBool(plist_t dict, const char* key, bool value) {
    plist_dict_set_item(dict, key, plist_new_bool(value ? 1 : 0));
}

} // namespace fakemux::PlistUtil
