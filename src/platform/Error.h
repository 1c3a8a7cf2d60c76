#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Base of every error the application throws. Callers show description() to the user and in logs;
// what() exists so that a stray catch (const std::exception&) still gets readable text.
class Error : public std::exception {
public:
    virtual QString description() const = 0;

    // Filled from description() on first use, because a constructor cannot call the derived
    // override. Errors are handled by one thread at a time, so the lazy fill needs no lock.
    const char* what() const noexcept override;

protected:
    Error() = default;

private:
    mutable QByteArray m_what;
};

// A failed file-system call. Keeps errno so that callers can map it (ENOSPC, EACCES, ...) to
// their own error kinds, and the path and operation so that the text says what failed where.
class FileError : public Error {
public:
    FileError(int code, QString operation, QString path);

    // Convenience for the usual pattern right after a failed POSIX call.
    static FileError fromErrno(QString operation, QString path);

    int code() const { return m_code; }
    QString operation() const { return m_operation; }
    QString path() const { return m_path; }

    QString description() const override;

private:
    int m_code;
    QString m_operation;
    QString m_path;
};
