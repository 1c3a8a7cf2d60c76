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

// A copy that must not replace anything found its name taken just as the finished copy was to
// take it (something appeared there since the name was chosen, or the file system folds case):
// the item there is left alone, and the caller decides as for any other clash.
class NameTakenError : public Error {
public:
    explicit NameTakenError(QString path) : m_path(std::move(path)) {}
    QString path() const { return m_path; }
    QString description() const override;

private:
    QString m_path;
};

// A source that grew or shrank while it was copied: the copy holds neither its old content nor
// its new, so it never takes the target's name.
class SizeChangedError : public Error {
public:
    SizeChangedError(QString path, quint64 expected) : m_path(std::move(path)), m_expected(expected) {}
    QString path() const { return m_path; }
    QString description() const override;

private:
    QString m_path;
    quint64 m_expected;
};
