#include "device/LocalFileFacts.h"

#include <QFile>

#include <sys/stat.h>

namespace {

std::optional<struct stat> statusOf(const URL& url) {
    if (!url.isFileURL())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(url.toLocalFile());
    if (path.isEmpty())
        return std::nullopt;
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        return std::nullopt;
    return status;
}

} // namespace

bool isDirectoryOnDisk(const URL& url) {
    const auto status = statusOf(url);
    return status && S_ISDIR(status->st_mode);
}

std::optional<quint64> fileSizeOnDisk(const URL& url) {
    const auto status = statusOf(url);
    if (!status || S_ISDIR(status->st_mode) || status->st_size < 0)
        return std::nullopt;
    return static_cast<quint64>(status->st_size);
}

std::optional<Date> modificationDateOnDisk(const URL& url) {
    const auto status = statusOf(url);
    if (!status)
        return std::nullopt;
    const double seconds =
        static_cast<double>(status->st_mtim.tv_sec) + static_cast<double>(status->st_mtim.tv_nsec) / 1e9;
    return Date::fromSecondsSince1970(seconds);
}
