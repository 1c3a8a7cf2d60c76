#pragma once

#include <QString>

#include <mutex>

// A system library opened the first time one of its functions is wanted instead of when the
// program starts: the dynamic loader maps and relocates every linked library before main runs,
// and large ones the first window never uses (the device client and its TLS stack) would delay it.
// Safe to use from any thread; the library stays loaded until the process ends.
class LazyLibrary {
public:
    // fileName is what dlopen is given: a library's SONAME, so that the installed runtime package
    // is enough.
    explicit LazyLibrary(const char* fileName) : m_fileName(fileName) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // The address of the named function, opening the library on first use; nullptr when the
    // library cannot be opened or lacks the name (error() says why).
    void* symbol(const char* name);
    // Whether the library is open (never opens it).
    bool isLoaded() const;
    // Why the library could not be opened, empty when it was (or was never tried).
    QString error() const;

    // Whether a library of that file name is in the process already, loaded by anyone.
    static bool isInProcess(const char* fileName);

private:
    void open();

    const char* m_fileName;
    std::once_flag m_once;
    void* m_handle = nullptr;
    QString m_error;
};
