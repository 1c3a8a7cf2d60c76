#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace fakemux {

// Raw bytes, kept apart from text so that a value prints as base64 the way a device's data does.
struct Bytes {
    std::vector<uint8_t> data;
    bool operator==(const Bytes&) const = default;
};

// One lockdown value as a device reports it. Plain types, so a configuration loader can fill it
// without knowing libplist.
using LockdownValue = std::variant<bool, int64_t, double, std::string, Bytes>;

// A new libplist node holding the value; the caller owns it.
plist_t toPlist(const LockdownValue& value);

} // namespace fakemux
