#include "platform/LazyLibrary.h"

#include <dlfcn.h>

void LazyLibrary::open() {
    // RTLD_LOCAL: the library's names stay out of the process's global scope, so nothing loaded
    // later binds to them by accident.
    m_handle = ::dlopen(m_fileName, RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* reason = ::dlerror();
        m_error = reason ? QString::fromLocal8Bit(reason) : QStringLiteral("cannot open %1").arg(QLatin1String(m_fileName));
    }
}

void* LazyLibrary::symbol(const char* name) {
    std::call_once(m_once, [this] { open(); });
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

bool LazyLibrary::isLoaded() const {
    return isInProcess(m_fileName);
}

QString LazyLibrary::error() const {
    return m_error;
}

bool LazyLibrary::isInProcess(const char* fileName) {
    void* handle = ::dlopen(fileName, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    ::dlclose(handle);
    return true;
}
