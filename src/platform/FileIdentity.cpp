#include "platform/FileIdentity.h"

#include <sys/stat.h>

FileIdentity FileIdentity::of(const struct stat& facts) {
    FileIdentity identity;
    identity.device = quint64(facts.st_dev);
    identity.inode = quint64(facts.st_ino);
    identity.size = quint64(facts.st_size);
    identity.modifiedSeconds = qint64(facts.st_mtim.tv_sec);
    identity.modifiedNanoseconds = qint64(facts.st_mtim.tv_nsec);
    return identity;
}
