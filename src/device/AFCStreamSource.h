#pragma once

#include "device/AFCDeviceFile.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class AFCSessionTable;

// The device side of one read stream: the file it reads and the session it was opened on. Its
// members are called in jobs on the bridge's executor only; it may be destroyed anywhere, and
// then makes no library call (the file is closed by close(), or with its session).
class AFCStreamSource {
public:
    AFCStreamSource(QString udid, QString path, std::optional<QString> bundleID, uint32_t chunkBytes);
    ~AFCStreamSource();
    AFCStreamSource(const AFCStreamSource&) = delete;
    AFCStreamSource& operator=(const AFCStreamSource&) = delete;

    // Opens the file on first use, then reads the next chunk; nothing at the end of the file,
    // which is then closed. Throws AFCError: notConnected (no session, or it was closed since),
    // fileOpenFailed, fileReadFailed. After the end or a failure it stays at its end.
    std::optional<QByteArray> readNext(const AFCSessionTable& sessions);
    // Closes the file unless it is closed already or its session has gone.
    void close(const AFCSessionTable& sessions);

    QString key() const;

private:
    bool sessionIsCurrent(const AFCSessionTable& sessions) const;

    const QString m_udid;
    const QString m_path;
    const std::optional<QString> m_bundleID;
    const uint32_t m_chunkBytes;
    std::unique_ptr<AFCDeviceFile> m_file;
    quint64 m_generation = 0;
    bool m_finished = false;
};
