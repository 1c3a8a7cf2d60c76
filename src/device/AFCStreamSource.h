#pragma once

#include "device/AFCDeviceFile.h"
#include "device/AFCRequest.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class AFCSessionTable;

// The device side of one read stream: the file it reads and the session it was opened on. Its
// members are called in jobs on the bridge's executor only; it may be destroyed anywhere, and
// then makes no library call (the file is closed by close(), or with its session).
//
// A session that this bridge cut for another's cancel is no reason to fail: the file is opened
// again on the session that takes its place (AFCSessionTable::lineage) and read on from where it
// was. A session the device lost ends the stream.
class AFCStreamSource {
public:
    AFCStreamSource(QString udid, QString path, std::optional<QString> bundleID, uint32_t chunkBytes,
                    AFCRequest request = {});
    ~AFCStreamSource();
    AFCStreamSource(const AFCStreamSource&) = delete;
    AFCStreamSource& operator=(const AFCStreamSource&) = delete;

    // Opens the file on first use, then reads the next chunk; nothing at the end of the file,
    // which is then closed. The session must be usable (AFCSessionTable::usableClient). Throws
    // AFCError: notConnected (no session, or it was replaced since by one not in its line),
    // fileOpenFailed, fileReadFailed. After the end or a failure it stays at its end.
    std::optional<QByteArray> readNext(const AFCSessionTable& sessions);
    // Closes the file unless it is closed already or its session has gone.
    void close(const AFCSessionTable& sessions);

    QString key() const;
    const QString& udid() const { return m_udid; }
    const std::optional<QString>& bundleID() const { return m_bundleID; }
    // Whose reads these are, made when the stream was.
    const AFCRequest& request() const { return m_request; }

private:
    bool sessionIsCurrent(const AFCSessionTable& sessions) const;
    void open(const AFCSessionTable& sessions);

    const QString m_udid;
    const QString m_path;
    const std::optional<QString> m_bundleID;
    const uint32_t m_chunkBytes;
    const AFCRequest m_request;
    std::unique_ptr<AFCDeviceFile> m_file;
    quint64 m_generation = 0;
    quint64 m_lineage = 0;
    quint64 m_offset = 0;
    bool m_finished = false;
};
