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
    void clear();

private:
    UserDefaults& m_defaults;
};
