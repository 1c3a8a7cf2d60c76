#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fakemux {

// Keeps every AFC path inside the folder a service serves. Paths are clamped lexically first
// ("/../../etc" is "/etc" below the root), then opened with openat2(RESOLVE_IN_ROOT), so that a
// symbolic link inside the folder resolves inside it too and never reaches a host file.
class PathJail {
public:
    // A root that cannot be opened (an app without a Documents folder) makes every lookup fail
    // with that error, as the device answers for a container it cannot serve.
    explicit PathJail(const std::filesystem::path& root);
    // Serves a folder below a jailed root: the folder is looked up inside the root's jail, so a
    // link planted in its place (an app's Documents pointing at a host folder) cannot widen it.
    PathJail(const std::filesystem::path& root, const std::string& below);
    ~PathJail();
    PathJail(const PathJail&) = delete;
    PathJail& operator=(const PathJail&) = delete;

    // "/a/./b/../c//" -> "a/c"; the root itself is "".
    static std::string clamp(std::string_view afcPath);
    // The clamped path in AFC form, "/a/c".
    static std::string display(const std::string& relative) { return "/" + relative; }

    // Opens a path relative to the root; returns a descriptor or -errno.
    int open(const std::string& relative, int flags, mode_t mode = 0) const;
    // Opens the folder holding the last component and hands out that component. For the root
    // itself there is no parent: -EPERM, since the root is never removed or renamed.
    int openParent(const std::string& relative, std::string& leaf) const;
    // Creates the folder and its parents; an existing folder is success. 0 or -errno.
    int makeDirectories(const std::string& relative) const;

private:
    int m_root = -1;
};

} // namespace fakemux
