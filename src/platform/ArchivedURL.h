#pragma once

#include "platform/URL.h"

#include <QByteArray>

#include <optional>

// A URL stored as data in the user defaults (the folder settings): a small binary plist holding
// the URL's text under a marker key, so that other data under the key is recognised as foreign.
QByteArray archiveURL(const URL& url);
// The archived URL; nothing for data that is not such an archive or holds no valid URL.
std::optional<URL> unarchiveURL(const QByteArray& data);
