#include "RequestLog.h"

#include <algorithm>

namespace fakemux {

void RequestLog::add(Entry entry) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(std::move(entry));
}

std::vector<RequestLog::Entry> RequestLog::entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

size_t RequestLog::count(const std::string& service, const std::string& request) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.service == service && e.request == request;
    }));
}

void RequestLog::clear() {
    std::lock_guard lock(m_mutex);
    // Emptied with its room: a benchmark's phone is no memory of the program it measures.
    std::vector<Entry>().swap(m_entries);
}

} // namespace fakemux
