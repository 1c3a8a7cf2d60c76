#pragma once

#include <QString>

// The live counters of a running transfer.
struct TransferProgress {
    quint64 bytesTransferred = 0;
    quint64 totalBytes = 0;
    // The name shown in the progress panel and quoted by the I/O failure alert.
    QString currentFile;
    qint64 filesCompleted = 0;
    qint64 totalFiles = 0;
    double bytesPerSecond = 0;
};
