#include "platform/FileRename.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::function<void()>& fallbackHook() {
    static std::function<void()> hook;
    return hook;
}

// Read by every rename on the copy threads, set by tests on the main thread while no copy runs:
// the flag, not the function, is what a rename looks at first.
std::atomic<bool> fallbackForced{false};

void beforeTakingName() {
    if (fallbackForced.load(std::memory_order_acquire) && fallbackHook())
        fallbackHook()();
}

// The link call's ways of saying that the file system makes no second names (or no more of
// them), as opposed to a refusal the rename would meet as well.
bool meansNoLinks(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// Where the kernel cannot refuse a taken name in the rename itself. 0, an errno, or -1 when a
// link cannot do it and only a look first is left.
int renameByLink(const QByteArray& from, const QByteArray& to) {
    struct stat source {};
    if (::lstat(from.constData(), &source) != 0)
        return errno;
    // A folder takes no second name.
    if (S_ISDIR(source.st_mode))
        return -1;
    beforeTakingName();
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0)
        return meansNoLinks(errno) ? -1 : errno;
    if (::unlink(from.constData()) == 0)
        return 0;
    // The item keeps the name it had: the new one goes again, unless it is no longer ours.
    const int error = errno;
    struct stat linked {};
    if (::lstat(to.constData(), &linked) == 0 && linked.st_dev == source.st_dev &&
        linked.st_ino == source.st_ino)
        ::unlink(to.constData());
    return error;
}

} // namespace

int renameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
    if (!fallbackForced.load(std::memory_order_acquire)) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
    }
    if (const int linked = renameByLink(from, to); linked >= 0)
        return linked;
    struct stat status {};
    if (::lstat(to.constData(), &status) == 0)
        return EEXIST;
    beforeTakingName();
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

void setRenameFallbackForTesting(std::function<void()> beforeTaking) {
    fallbackForced.store(false, std::memory_order_release);
    fallbackHook() = std::move(beforeTaking);
    fallbackForced.store(bool(fallbackHook()), std::memory_order_release);
}
