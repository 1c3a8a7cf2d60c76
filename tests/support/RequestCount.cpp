#include "RequestCount.h"

#include "DeviceTestCase.h"

size_t countAfcRequests(const std::string& request, const std::string& detail) {
    size_t count = 0;
    for (const auto& entry : DeviceTestCase::emulator().log().entries()) {
        if (entry.service == "afc" && entry.request == request && (detail.empty() || entry.detail == detail))
            ++count;
    }
    return count;
}
