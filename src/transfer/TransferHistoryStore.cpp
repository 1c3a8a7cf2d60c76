#include "transfer/TransferHistoryStore.h"

QList<TransferHistoryEntry> TransferHistoryStore::load() const {
    const std::optional<QByteArray> data = m_defaults.dataForKey(defaultsKey);
    if (!data)
        return {};
    return TransferHistoryEntry::decodeList(*data).value_or(QList<TransferHistoryEntry>{});
}

void TransferHistoryStore::save(const QList<TransferHistoryEntry>& entries) {
    store(encode(entries));
}

QByteArray TransferHistoryStore::encode(const QList<TransferHistoryEntry>& entries) {
    return TransferHistoryEntry::encodeList(entries);
}

void TransferHistoryStore::store(const QByteArray& encoded) {
    m_defaults.set(defaultsKey, encoded);
}

void TransferHistoryStore::clear() {
    m_defaults.remove(defaultsKey);
}
