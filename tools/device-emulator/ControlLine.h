#pragma once

#include <QString>
#include <QStringList>

// One control command as a line of words. Words are separated by blanks; a word in double quotes
// may hold blanks, quotes and backslashes (escaped with a backslash) or be empty, so that any
// name a fault needs, such as "a b" or "", survives the trip through the socket.
class ControlLine {
public:
    // The words of a line; false when a quote is left open.
    static bool split(const QString& line, QStringList& words);
    // A line that split() turns back into exactly these words. A word must hold no line break,
    // which would end the command early.
    static QString join(const QStringList& words);
};
