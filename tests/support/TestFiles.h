#pragma once

#include <QByteArray>
#include <QString>

// Files for tests to copy and compare.

// Deterministic test bytes (byte i is (31 i + i / 4093) mod 256). The sequence repeats only every
// 64 x 4093 bytes, so a chunk of a copy that was repeated, skipped or put at a power-of-two offset
// from where it belongs does not compare equal.
QByteArray patternBytes(qint64 size);

// The whole file, or nothing when it cannot be read.
QByteArray fileContents(const QString& path);

// Writes bytes as the whole file, making its folders first; false when any of it failed.
// Callers QVERIFY the result, so that a test stops where its setup went wrong.
bool writeTestFile(const QString& path, const QByteArray& bytes);
