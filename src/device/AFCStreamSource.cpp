#include "device/AFCStreamSource.h"

#include "device/AFCError.h"
#include "device/AFCSessionTable.h"
#include "platform/Logger.h"

AFCStreamSource::AFCStreamSource(QString udid, QString path, std::optional<QString> bundleID,
                                 uint32_t chunkBytes, AFCRequest request)
    : m_udid(std::move(udid)), m_path(std::move(path)), m_bundleID(std::move(bundleID)),
      m_chunkBytes(chunkBytes), m_request(std::move(request)) {}

AFCStreamSource::~AFCStreamSource() {
    if (m_file)
        m_file->abandon();
}

QString AFCStreamSource::key() const {
    return AFCSessionTable::key(m_udid, m_bundleID);
}

void AFCStreamSource::open(const AFCSessionTable& sessions) {
    afc_client_t afc = sessions.client(m_udid, m_bundleID);
    m_generation = sessions.generation(key()).value_or(0);
    m_lineage = sessions.lineage(key()).value_or(0);
    try {
        m_file = std::make_unique<AFCDeviceFile>(afc, m_path, AFCDeviceFile::Mode::read);
        if (m_offset > 0)
            m_file->seek(m_offset);
    } catch (const AFCError&) {
        m_file.reset();
        m_finished = true;
        throw;
    }
}

std::optional<QByteArray> AFCStreamSource::readNext(const AFCSessionTable& sessions) {
    if (m_finished)
        return std::nullopt;
    if (!m_file) {
        open(sessions);
    } else if (!sessionIsCurrent(sessions)) {
        // Its handle went with the old session, which has been freed.
        m_file->abandon();
        m_file.reset();
        if (sessions.lineage(key()) != m_lineage) {
            m_finished = true;
            throw AFCError::notConnected(key());
        }
        Logger::bridge().info("Reading %s on from byte %llu over a new session", m_path,
                              static_cast<unsigned long long>(m_offset));
        open(sessions);
    }

    QByteArray chunk(static_cast<qsizetype>(m_chunkBytes), Qt::Uninitialized);
    uint32_t got = 0;
    try {
        got = m_file->read(chunk.data(), m_chunkBytes);
    } catch (const AFCError&) {
        close(sessions);
        throw;
    }
    if (got == 0) {
        close(sessions);
        return std::nullopt;
    }
    m_offset += got;
    chunk.resize(static_cast<qsizetype>(got));
    return chunk;
}

void AFCStreamSource::close(const AFCSessionTable& sessions) {
    m_finished = true;
    if (!m_file)
        return;
    if (sessionIsCurrent(sessions))
        m_file->close();
    else
        m_file->abandon();
    m_file.reset();
}

bool AFCStreamSource::sessionIsCurrent(const AFCSessionTable& sessions) const {
    return sessions.generation(key()) == m_generation;
}
