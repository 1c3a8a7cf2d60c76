#pragma once

#include <QtGlobal>

#include <functional>

// Progress of a device copy, as the bridge reports it.
// A download: the bytes written to the local file so far.
using AFCDownloadProgress = std::function<void(quint64 written)>;
// An upload: the bytes stored on the device so far and the local file's size (-1 when unknown).
using AFCUploadProgress = std::function<void(qint64 sent, qint64 size)>;
