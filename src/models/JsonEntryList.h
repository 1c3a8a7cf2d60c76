#pragma once

#include "models/JsonDecodingError.h"
#include "platform/OSLog.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QList>

#include <optional>
#include <utility>

// The stored lists of the app (transfer history, favourites) are JSON arrays of records that are
// read record by record: one that cannot be read is logged and left out, the others stay, so a
// single bad or hand-edited record never costs the user the whole list.

// The array the data holds; nothing when it is not valid JSON or not an array at all.
inline std::optional<QJsonArray> jsonArrayOf(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    return document.array();
}

// Every element that `decode` reads, in order. `decode` throws JsonDecodingError for an element it
// cannot read; that element is logged at error level with `skippedFormat`, which gets the
// element's index ("%lld") and the reason ("%s").
template <class Entry, class Decode>
QList<Entry> decodeEachEntry(const QJsonArray& array, Decode decode, const OSLog& log,
                             const char* skippedFormat) {
    QList<Entry> entries;
    entries.reserve(array.size());
    for (qsizetype index = 0; index < array.size(); ++index) {
        try {
            entries.append(decode(array.at(index)));
        } catch (const JsonDecodingError& error) {
            log.error(skippedFormat, static_cast<long long>(index), error.description());
        }
    }
    return entries;
}

// Compact JSON of an array of the entries' toJson(), in list order.
template <class Entry> QByteArray encodeEachEntry(const QList<Entry>& entries) {
    QJsonArray array;
    for (const Entry& entry : entries)
        array.append(entry.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}
