#pragma once

// The command-line checks every benchmark shares. A benchmark writes its files to tmpfs, which is
// memory shared with everything else on the machine: a size typed wrong must stop it before it
// writes, with a message that says what is wrong, not fill /dev/shm and fail half-way.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/statvfs.h>

namespace bench {

// A whole number from 1 to limit; otherwise nothing, after a message naming what and why.
// strtoull alone would take "-1" for a huge count and "12abc" for 12.
inline std::optional<uint64_t> parseCount(const char* tool, const char* what, const char* text,
                                          uint64_t limit) {
    const auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "%s: %s \"%s\": %s\n", tool, what, text, why.c_str());
        return std::nullopt;
    };
    if (*text == '-' && std::strlen(text) > 1 && std::strspn(text + 1, "0123456789") == std::strlen(text) - 1)
        return refuse("cannot be negative");
    if (!*text || std::strspn(text, "0123456789") != std::strlen(text))
        return refuse("is not a whole number");
    const size_t digits = std::strlen(text) - std::strspn(text, "0");
    const uint64_t value = digits > 19 ? UINT64_MAX : std::strtoull(text, nullptr, 10);
    if (value == 0)
        return refuse("must be at least 1");
    if (value > limit)
        return refuse("is more than the limit of " + std::to_string(limit));
    return value;
}

// Whether the file system of the benchmark's fresh work folder has room for bytes more; a message
// naming the folder it was made in (/dev/shm) when it has not.
inline bool roomFor(const char* tool, const std::filesystem::path& folder, uint64_t bytes) {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) {
        std::fprintf(stderr, "%s: cannot tell the free space of %s: %s\n", tool, folder.c_str(),
                     std::strerror(errno));
        return false;
    }
    const uint64_t free = uint64_t(fs.f_bavail) * fs.f_frsize;
    if (bytes <= free)
        return true;
    std::fprintf(stderr,
                 "%s: the files need %llu MiB in %s, which has %llu MiB free; choose a smaller size\n", tool,
                 static_cast<unsigned long long>((bytes + (1 << 20) - 1) >> 20), folder.parent_path().c_str(),
                 static_cast<unsigned long long>(free >> 20));
    return false;
}

} // namespace bench
