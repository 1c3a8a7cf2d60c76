#include "ControlLine.h"

bool ControlLine::split(const QString& line, QStringList& words) {
    words.clear();
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < line.size()) {
                word += line.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return !quoted;
}

QString ControlLine::join(const QStringList& words) {
    QStringList quoted;
    for (QString word : words) {
        word.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        word.replace(QLatin1Char('"'), QLatin1String("\\\""));
        quoted.append(QLatin1Char('"') + word + QLatin1Char('"'));
    }
    return quoted.join(QLatin1Char(' '));
}
