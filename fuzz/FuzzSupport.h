#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares.

// Every target gets, once per process (LLVMFuzzerInitialize in FuzzSupport.cpp): a Qt
// application object, and log messages that are formatted as in the app (that code meets the
// hostile text too) but not printed, since a fuzzer that writes a line per input spends its time
// writing.

// A property that must hold for every input: when it does not, says which and aborts, so that
// libFuzzer keeps the input as a crash.
void fuzzCheck(bool holds, const char* property);

inline QByteArray fuzzBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A folder of this process's own for files a target reads back, on a memory file system where
// there is one: the settings store syncs each save to disk. Removed at exit.
QString fuzzScratchFolder();
