#include "platform/Error.h"

#include <cerrno>
#include <cstring>

const char* Error::what() const noexcept {
    try {
        if (m_what.isEmpty())
            m_what = description().toUtf8();
        return m_what.constData();
    } catch (...) {
        return "Error";
    }
}

FileError::FileError(int code, QString operation, QString path)
    : m_code(code), m_operation(std::move(operation)), m_path(std::move(path)) {}

FileError FileError::fromErrno(QString operation, QString path) {
    return FileError(errno, std::move(operation), std::move(path));
}

QString FileError::description() const {
    // strerror() may share one buffer between threads; the GNU strerror_r returns a pointer that
    // is either our buffer or a static string, both safe to read here.
    char buffer[256];
    const char* text = strerror_r(m_code, buffer, sizeof buffer);
    return QStringLiteral("Could not %1 \"%2\": %3").arg(m_operation, m_path, QString::fromLocal8Bit(text));
}

QString NameTakenError::description() const {
    return QStringLiteral("Could not copy to \"%1\": the name was taken meanwhile").arg(m_path);
}

QString SizeChangedError::description() const {
    return QStringLiteral("Could not copy \"%1\": size changed while it was copied (%2 bytes when it began)")
        .arg(m_path)
        .arg(m_expected);
}
