#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// What a helper tool left behind: its termination status and everything it printed. The streams
// are named standardOutput and standardError because stdout and stderr are macros of <cstdio>.
struct ProcessResult {
    int32_t exitCode = 0;
    QString standardOutput;
    QString standardError;

    // The tools' output as text. Output that is not valid UTF-8 as a whole becomes the empty
    // text rather than a half-decoded one with replacement characters that a parser would trust.
    static QString decodeOutput(const QByteArray& bytes);

    bool operator==(const ProcessResult&) const = default;
};
