#include "PathJail.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace fakemux {

namespace {

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

int openBeneath(int root, const std::string& relative, int flags, mode_t mode) {
    if (root < 0)
        return root;
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const char* path = relative.empty() ? "." : relative.c_str();
    for (;;) {
        long fd = ::syscall(SYS_openat2, root, path, &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        // No fallback without openat2: failing closed is better than serving a host file.
        if (errno != EINTR && errno != EAGAIN)
            return -errno;
    }
}

} // namespace

PathJail::PathJail(const std::filesystem::path& root) {
    m_root = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_root < 0)
        m_root = -errno;
}

PathJail::PathJail(const std::filesystem::path& root, const std::string& below) {
    PathJail outer(root);
    m_root = outer.open(clamp(below), O_PATH | O_DIRECTORY);
}

PathJail::~PathJail() {
    if (m_root >= 0)
        ::close(m_root);
}

std::string PathJail::clamp(std::string_view afcPath) {
    std::string out;
    for (const auto& part : components(afcPath)) {
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

int PathJail::open(const std::string& relative, int flags, mode_t mode) const {
    return openBeneath(m_root, relative, flags, mode);
}

int PathJail::openParent(const std::string& relative, std::string& leaf) const {
    if (relative.empty())
        return -EPERM;
    size_t slash = relative.rfind('/');
    leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
    std::string parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    return openBeneath(m_root, parent, O_PATH | O_DIRECTORY, 0);
}

int PathJail::makeDirectories(const std::string& relative) const {
    std::string sofar;
    for (const auto& part : components(relative)) {
        sofar = sofar.empty() ? part : sofar + "/" + part;
        std::string leaf;
        int parent = openParent(sofar, leaf);
        if (parent < 0)
            return parent;
        int rc = ::mkdirat(parent, leaf.c_str(), 0755);
        int err = errno;
        ::close(parent);
        if (rc != 0 && err != EEXIST)
            return -err;
    }
    // An existing file of that name is no folder.
    int fd = open(relative, O_PATH | O_DIRECTORY);
    if (fd < 0)
        return fd;
    ::close(fd);
    return 0;
}

} // namespace fakemux
