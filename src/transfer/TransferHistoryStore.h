#pragma once

#include "models/TransferHistoryEntry.h"
#include "platform/UserDefaults.h"

#include <QLatin1StringView>
#include <QList>

// The transfer history in the user's defaults: one JSON array of entries, newest first.
class TransferHistoryStore {
public:
    static constexpr QLatin1StringView defaultsKey{"OrvantaTransferHistory"};
    static constexpr qsizetype maximumEntries = 100;

    explicit TransferHistoryStore(UserDefaults& defaults) : m_defaults(defaults) {}

    // The stored entries in their order; empty when nothing readable is stored. One unreadable
    // entry costs only itself: the rest are kept.
    QList<TransferHistoryEntry> load() const;
    void save(const QList<TransferHistoryEntry>& entries);
    // save() in two halves, so that the encoding (which grows with every item of every entry) can
    // run on a worker thread: encode() touches nothing but its argument.
    static QByteArray encode(const QList<TransferHistoryEntry>& entries);
    void store(const QByteArray& encoded);
    void clear();

private:
    UserDefaults& m_defaults;
};
