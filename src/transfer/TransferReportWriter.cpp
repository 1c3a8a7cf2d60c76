#include "transfer/TransferReportWriter.h"

#include "platform/ByteCountFormatter.h"
#include "platform/Logger.h"

#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace {

QString upperId(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Seconds since 1970 in the shortest text that reads back as the same double, always with a
// fractional part ("1733447790.0").
QString secondsText(double seconds) {
    QString text = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace

QString TransferReportWriter::reportsDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Orvanta/TransferReports");
}

QString TransferReportWriter::fileName(const Transfer& transfer) {
    return QStringLiteral("transfer-") + secondsText(transfer.startedAt.secondsSince1970()) +
           QLatin1Char('-') + upperId(transfer.id).left(8) + QStringLiteral(".txt");
}

QString TransferReportWriter::iso8601(Date date) {
    return date.toQDateTime().toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString TransferReportWriter::reportText(const Transfer& transfer) {
    QStringList lines;
    lines.reserve(12 + transfer.reportEntries.size());
    lines << QStringLiteral("Orvanta Transfer Report");
    lines << QStringLiteral("Transfer ID: ") + upperId(transfer.id);
    lines << QStringLiteral("Started: ") + iso8601(transfer.startedAt);
    if (transfer.completedAt)
        lines << QStringLiteral("Completed: ") + iso8601(*transfer.completedAt);
    lines << QStringLiteral("State: ") + transfer.state.rawValue();
    lines << QStringLiteral("Destination: ") + transfer.destination.path();
    QStringList names;
    for (const FileItem& source : transfer.sources)
        names << source.name();
    lines << QStringLiteral("Sources: ") + names.join(QStringLiteral(", "));
    lines << QStringLiteral("Verification: ") + transfer.verificationSummary.summaryText();
    lines << QStringLiteral("Transferred: ") +
                 ByteCountFormatter::fileFromSigned(qint64(transfer.progress.bytesTransferred));
    if (transfer.error)
        lines << QStringLiteral("Error: ") + transfer.error->description();
    lines << QString();
    lines << QStringLiteral("Files");
    for (const TransferReportEntry& entry : transfer.reportEntries) {
        QString line = QStringLiteral("- ") + entry.name() + QStringLiteral(" | ") +
                       ByteCountFormatter::fileFromSigned(qint64(entry.bytesTransferred())) +
                       QStringLiteral(" | ") + entry.verificationOutcome().rawValue();
        if (entry.verificationDetail())
            line += QStringLiteral(" (") + *entry.verificationDetail() + QLatin1Char(')');
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

std::optional<URL> TransferReportWriter::write(const Transfer& transfer, const QString& directory) {
    if (!QDir().mkpath(directory)) {
        Logger::transfer().error("Failed to create reports directory: %s",
                                 QStringLiteral("Could not create the folder \"%1\"").arg(directory));
        return std::nullopt;
    }
    const QString path = directory + QLatin1Char('/') + fileName(transfer);
    QSaveFile file(path);
    const QByteArray text = reportText(transfer).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        Logger::transfer().error("Failed to write transfer report: %s", file.errorString());
        return std::nullopt;
    }
    return URL::fileURL(path);
}
