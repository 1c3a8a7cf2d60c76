#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

// Converts between QVariant and property lists (libplist), for the user defaults file and the
// archived URLs. The value types are those a plist holds: bool, qint64, double, QString,
// QByteArray, QVariantList and QVariantMap, nested.
class PropertyList {
public:
    // The value in the form it has after a trip through a plist (int becomes qint64, a string
    // list becomes a list of strings); nothing when it holds a type a plist cannot carry.
    static std::optional<QVariant> normalized(const QVariant& value);

    // Binary plist bytes of a value; nothing when it holds a type a plist cannot carry.
    static std::optional<QByteArray> toBinary(const QVariant& value);
    // Reads binary or XML plist bytes; nothing when they are no plist or the root has a type we do
    // not read. Inside containers, elements of such types (dates, UIDs) are left out.
    static std::optional<QVariant> fromData(const QByteArray& data);
    static bool isBinary(const QByteArray& data);
};
