#pragma once

#include <cstddef>
#include <string>

// How many AFC requests of this name (FILE_READ, FILE_CLOSE, ...) the emulator of this test
// executable has received; with a detail (a path, for most requests), only those that named it.
size_t countAfcRequests(const std::string& request, const std::string& detail = {});
