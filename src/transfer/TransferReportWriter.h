#pragma once

#include "models/Transfer.h"
#include "platform/Date.h"
#include "platform/URL.h"

#include <QString>

#include <optional>

// The plain-text report that every finished transfer leaves, one UTF-8 file per transfer in the
// data folder's "Orvanta/TransferReports". Reports are never pruned.
class TransferReportWriter {
public:
    // The folder of the reports (not created here): below the user's data folder, or below the
    // temporary folder when the system names none.
    static QString reportsDirectory();
    // "transfer-<start in seconds since 1970>-<first 8 characters of the id>.txt".
    static QString fileName(const Transfer& transfer);
    // The report's lines joined with line feeds, without one after the last.
    static QString reportText(const Transfer& transfer);
    // 2026-12-06T01:16:30.123Z
    static QString iso8601(Date date);

    // Creates the folder when needed and writes the report atomically (a reader never sees half
    // of it). The report's URL, or nothing (logged) when the folder or the file cannot be made.
    static std::optional<URL> write(const Transfer& transfer, const QString& directory);

    TransferReportWriter() = delete;
};
