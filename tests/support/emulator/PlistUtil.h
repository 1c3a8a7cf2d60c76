#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fakemux {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
// Owns a libplist node tree.
using Plist = std::unique_ptr<void, PlistDeleter>;

// Small helpers over libplist, so that services read requests and build replies without
// repeating null checks and type tests.
namespace PlistUtil {

Plist newDict();
// Parses XML or binary plist bytes; empty when they are neither.
Plist parse(const char* data, size_t size);
std::string toXml(plist_t node);

std::optional<std::string> string(plist_t dict, const char* key);
std::optional<uint64_t> uint(plist_t dict, const char* key);
bool boolean(plist_t dict, const char* key, bool fallback);

void setString(plist_t dict, const char* key, const std::string& value);
void setUint(plist_t dict, const char* key, uint64_t value);
void setBool(plist_t dict, const char* key, bool value);

} // namespace PlistUtil
} // namespace fakemux
