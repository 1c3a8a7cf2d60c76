#include "platform/FileHandle.h"

#include <QFile>

#include <unistd.h>

void closeFileHandle(QFile& file) {
    file.close();
}

void closeFileHandle(int fd) {
    if (fd >= 0)
        static_cast<void>(::close(fd));
}
