#pragma once

#include <QString>

// Text rules shared by the browsers' search and inline rename.
namespace BrowserText {

// Spaces (every Unicode space separator) and tabs cut from both ends; line breaks stay, so a
// name that really holds one is not silently changed.
QString trimSpacesTabs(const QString& text);

} // namespace BrowserText
