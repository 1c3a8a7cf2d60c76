#pragma once

#include "models/TransferHistoryEntry.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

// The transfer history as the Transfer Center's table shows it: one row per entry in the
// manager's order (newest first), five columns of text. The table has no sorting of its own.
class TransferCenterModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { title, state, verification, completed, destination, columnCount_ };

    struct ColumnInfo {
        QString identifier;
        QString title;
        int width;
    };
    static const QList<ColumnInfo>& columns();

    explicit TransferCenterModel(QObject* parent = nullptr);

    const QList<TransferHistoryEntry>& entries() const { return m_entries; }
    // Replaces every row (a reset: views drop their selection).
    void setEntries(QList<TransferHistoryEntry> entries);
    // The row of the entry with this id, or -1.
    int rowOf(const QUuid& id) const;
    // The names of devices by UDID, for destinations on a device; the Destination column follows.
    void setDeviceNames(QHash<QString, QString> names);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of one cell, by column identifier; "" for an unknown one.
    static QString cellText(const TransferHistoryEntry& entry, const QString& columnIdentifier,
                            const QHash<QString, QString>& deviceNames = {});
    // A computer folder by its path; a device folder by its device's name (from deviceNames, by
    // UDID; "Device" for one never seen) and its folders: "Demo iPhone › Books".
    static QString destinationText(const QString& destinationURLString,
                                   const QHash<QString, QString>& deviceNames);

private:
    QList<TransferHistoryEntry> m_entries;
    QHash<QString, QString> m_deviceNames;
};
