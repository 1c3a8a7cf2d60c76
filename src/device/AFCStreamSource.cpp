#include "device/AFCStreamSource.h"

#include "device/AFCError.h"
#include "device/AFCSessionTable.h"

AFCStreamSource::AFCStreamSource(QString udid, QString path, std::optional<QString> bundleID,
                                 uint32_t chunkBytes)
    : m_udid(std::move(udid)), m_path(std::move(path)), m_bundleID(std::move(bundleID)),
      m_chunkBytes(chunkBytes) {}

AFCStreamSource::~AFCStreamSource() {
    if (m_file)
        m_file->abandon();
}

QString AFCStreamSource::key() const {
    return AFCSessionTable::key(m_udid, m_bundleID);
}

std::optional<QByteArray> AFCStreamSource::readNext(const AFCSessionTable& sessions) {
    if (m_finished)
        return std::nullopt;
    if (!m_file) {
        afc_client_t afc = sessions.client(m_udid, m_bundleID);
        m_generation = sessions.generation(key()).value_or(0);
        try {
            m_file = std::make_unique<AFCDeviceFile>(afc, m_path, AFCDeviceFile::Mode::read);
        } catch (const AFCError&) {
            m_finished = true;
            throw;
        }
    } else if (!sessionIsCurrent(sessions)) {
        m_file->abandon();
        m_file.reset();
        m_finished = true;
        throw AFCError::notConnected(key());
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
