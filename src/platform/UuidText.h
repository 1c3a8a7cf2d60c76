#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// UUIDs travel as Foundation writes them: 36 characters, upper-case hex with hyphens, no braces.
QString uuidString(const QUuid& uuid);
// Reads the 36-character form in either case; nothing for anything else (braces included).
std::optional<QUuid> uuidFromString(const QString& text);
