#include "app/TransferCenterModel.h"

#include "device/AFCComponents.h"
#include "platform/DateFormat.h"
#include "platform/URL.h"

const QList<TransferCenterModel::ColumnInfo>& TransferCenterModel::columns() {
    static const QList<ColumnInfo> table{
        {QStringLiteral("title"), QStringLiteral("Transfer"), 220},
        {QStringLiteral("state"), QStringLiteral("State"), 100},
        {QStringLiteral("verification"), QStringLiteral("Verification"), 150},
        {QStringLiteral("completed"), QStringLiteral("Completed"), 160},
        {QStringLiteral("destination"), QStringLiteral("Destination"), 250},
    };
    return table;
}

TransferCenterModel::TransferCenterModel(QObject* parent) : QAbstractTableModel(parent) {}

void TransferCenterModel::setEntries(QList<TransferHistoryEntry> entries) {
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int TransferCenterModel::rowOf(const QUuid& id) const {
    for (qsizetype row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).id() == id)
            return int(row);
    }
    return -1;
}

void TransferCenterModel::setDeviceNames(QHash<QString, QString> names) {
    if (names == m_deviceNames)
        return;
    m_deviceNames = std::move(names);
    if (!m_entries.isEmpty())
        emit dataChanged(index(0, destination), index(int(m_entries.size()) - 1, destination));
}

int TransferCenterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

int TransferCenterModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns().size());
}

QVariant TransferCenterModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_entries.size() || index.column() >= columns().size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cellText(m_entries.at(index.row()), columns().at(index.column()).identifier, m_deviceNames);
    return {};
}

QVariant TransferCenterModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columns().size())
        return {};
    return columns().at(section).title;
}

QString TransferCenterModel::cellText(const TransferHistoryEntry& entry, const QString& columnIdentifier,
                                      const QHash<QString, QString>& deviceNames) {
    if (columnIdentifier == u"title") {
        if (entry.sources().size() == 1)
            return entry.sources().first().name();
        return QStringLiteral("%1 items").arg(entry.sources().size());
    }
    if (columnIdentifier == u"state") {
        QString name = entry.state().rawValue();
        if (!name.isEmpty())
            name[0] = name[0].toUpper();
        return name;
    }
    if (columnIdentifier == u"verification")
        return entry.verificationSummary().summaryText();
    if (columnIdentifier == u"completed")
        return entry.completedAt() ? DateFormat::shortShort(*entry.completedAt())
                                   : QStringLiteral("In progress");
    if (columnIdentifier == u"destination")
        return destinationText(entry.destinationURLString(), deviceNames);
    return {};
}

QString TransferCenterModel::destinationText(const QString& destinationURLString,
                                             const QHash<QString, QString>& deviceNames) {
    const std::optional<URL> url = URL::fromString(destinationURLString);
    if (!url)
        return QStringLiteral("\u2014");
    const std::optional<AFCComponents> components = afcComponents(*url);
    if (!components)
        return url->path();
    // A path alone would read like a folder of this computer.
    QStringList parts{deviceNames.value(components->udid, QStringLiteral("Device"))};
    if (components->bundleID)
        parts << *components->bundleID;
    parts << components->devicePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.join(QStringLiteral(" \u203A "));
}
