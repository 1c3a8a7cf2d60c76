// The stored transfer history: a JSON array of finished transfers, read entry by entry, so that
// one damaged entry costs only itself.

#include "FuzzSupport.h"
#include "models/TransferHistoryEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QList<TransferHistoryEntry>> entries =
        TransferHistoryEntry::decodeList(fuzzBytes(data, size));
    if (!entries)
        return 0;
    for (const TransferHistoryEntry& entry : *entries) {
        (void)qHash(entry);
        (void)entry.verificationSummary().summaryText();
    }
    const std::optional<QList<TransferHistoryEntry>> again =
        TransferHistoryEntry::decodeList(TransferHistoryEntry::encodeList(*entries));
    fuzzCheck(again.has_value() && *again == *entries,
              "a decoded history encodes and decodes to equal entries");
    return 0;
}
