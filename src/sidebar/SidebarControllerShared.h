#pragma once

// What the two files of SidebarViewController share: the titles its rows and sections are known
// by, an error's text for the log, and the guard around every change of the rows.

#include "platform/Error.h"
#include "sidebar/SidebarViewController.h"

#include <QItemSelectionModel>
#include <QString>
#include <QTreeView>

#include <exception>

namespace SidebarNames {

inline const QString afcScheme = QStringLiteral("afc");
inline const QString photosTitle = QStringLiteral("Photos");
inline const QString recordingsTitle = QStringLiteral("Recordings");
inline const QString locationsHeader = QStringLiteral("LOCATIONS");
inline const QString recentHeader = QStringLiteral("RECENT");
inline const QString favoritesHeader = QStringLiteral("FAVORITES");
inline const QString devicesHeader = QStringLiteral("DEVICES");

inline QString describe(const std::exception& error) {
    if (const auto* known = dynamic_cast<const Error*>(&error))
        return known->description();
    return QString::fromLocal8Bit(error.what());
}

} // namespace SidebarNames

class SidebarViewController::RebuildGuard {
public:
    explicit RebuildGuard(SidebarViewController& controller) : m_controller(controller) {
        ++m_controller.m_rebuilding;
        QItemSelectionModel* selection = m_controller.m_outlineView->selectionModel();
        m_wasBlocked = selection->blockSignals(true);
        selection->clearSelection();
        selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    ~RebuildGuard() {
        QItemSelectionModel* selection = m_controller.m_outlineView->selectionModel();
        selection->clearSelection();
        selection->blockSignals(m_wasBlocked);
        // The rows are new: the one of the folder shown is selected again, still not as a click.
        m_controller.selectShownRow();
        --m_controller.m_rebuilding;
        m_controller.m_outlineView->viewport()->update();
    }
    RebuildGuard(const RebuildGuard&) = delete;
    RebuildGuard& operator=(const RebuildGuard&) = delete;

private:
    SidebarViewController& m_controller;
    bool m_wasBlocked = false;
};
