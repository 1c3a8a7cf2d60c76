#include "LockdownValue.h"

namespace fakemux {

plist_t toPlist(const LockdownValue& value) {
    struct Visitor {
        plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
        // libplist 2.2 has one integer type; negative values travel as their two's complement.
        plist_t operator()(int64_t v) const { return plist_new_uint(static_cast<uint64_t>(v)); }
        plist_t operator()(double v) const { return plist_new_real(v); }
        plist_t operator()(const std::string& v) const { return plist_new_string(v.c_str()); }
        plist_t operator()(const Bytes& v) const {
            return plist_new_data(reinterpret_cast<const char*>(v.data.data()), v.data.size());
        }
    };
    return std::visit(Visitor{}, value);
}

} // namespace fakemux
