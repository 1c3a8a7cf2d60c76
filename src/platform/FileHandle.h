#pragma once

class QFile;

// Closes a file whose data is already written and checked (or abandoned). A failure to close is
// ignored on purpose: the caller has nothing left to do about it, and throwing from cleanup
// paths would hide the error that matters.
void closeFileHandle(QFile& file);
// The same for a POSIX descriptor; a negative one is left alone.
void closeFileHandle(int fd);

// Owns a POSIX descriptor (a negative one is none) and closes it as closeFileHandle does.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { closeFileHandle(m_fd); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};
