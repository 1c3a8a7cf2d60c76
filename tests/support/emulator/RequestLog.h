#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace fakemux {

// What clients asked of the emulator, in arrival order, so that a test can assert on the
// conversation itself: a StopSession was sent, no write followed a refusal, every handle was closed.
class RequestLog {
public:
    struct Entry {
        std::string udid;    // empty for requests to the mux itself that name no device
        std::string service; // "usbmux", "lockdownd", "afc", "house_arrest", "installation_proxy"
        std::string request; // "StopSession", "FILE_WRITE", ...
        std::string detail;  // a path, key, service or bundle identifier when the request has one
    };

    void add(Entry entry);
    std::vector<Entry> entries() const;
    // How many requests of this name reached this service.
    size_t count(const std::string& service, const std::string& request) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

} // namespace fakemux
