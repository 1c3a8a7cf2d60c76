#pragma once

#include "models/FileItem.h"
#include "platform/async/TaskHandle.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <memory>

class AFCBridge;
class QLabel;
class QRect;
class QWidget;
class Spinner;
class ThumbnailCache;

// A small floating panel with the facts of one device item: its icon or thumbnail, its name, and
// its kind, size, modification date and path. Several can be open at once, even for one item;
// each lives from showing until its window closes, when the window and its controller are
// deleted and leave openPanels().
//
// The controller is a child of its window, so it goes with it, also when the main window it
// floats over goes first.
class GetInfoPanelController : public QObject {
    Q_OBJECT
public:
    static constexpr int panelWidth = 280;
    static constexpr int panelHeight = 400;
    static constexpr int iconSize = 128;
    static constexpr int valueWidth = 160;
    // How far each new panel steps down and right from one already open where it would go.
    static constexpr int cascadeOffset = 22;

    // Makes the panel over parentWindow (a floating tool window of it; its own window without
    // one), centres it on the screen (cascaded from the panels already there) and shows it
    // without taking the focus.
    static GetInfoPanelController* open(FileItem item, ThumbnailCache* thumbnailCache,
                                        std::shared_ptr<AFCBridge> afcBridge, QWidget* parentWindow);
    ~GetInfoPanelController() override;

    // The panels shown and not yet closed, oldest first.
    static QList<GetInfoPanelController*> openPanels();

    QWidget* window() const { return m_window; }
    const FileItem& item() const { return m_item; }
    QLabel* iconView() const { return m_iconView; }
    QLabel* nameLabel() const { return m_nameLabel; }
    // The wheel over the icon while the thumbnail loads; nullptr otherwise.
    Spinner* spinner() const;
    // The thumbnail request, when one was made (tests await it).
    const std::optional<async::TaskHandle<void>>& thumbnailTask() const { return m_thumbnailTask; }

    // The grid's rows, label and value: Kind, Size (files only), Modified, Path.
    static QList<QPair<QString, QString>> infoRows(const FileItem& item);
    // Where the item lies: on a device the path there (inside the app's container for its
    // items), otherwise the file's path.
    static QString displayPath(const FileItem& item);

    // For the thumbnail task: the thumbnail arrived (a null image keeps the type icon).
    void thumbnailArrived(const QImage& image);

private:
    GetInfoPanelController(FileItem item, ThumbnailCache* thumbnailCache,
                           std::shared_ptr<AFCBridge> afcBridge, QWidget* parentWindow);
    void buildContent();
    void loadThumbnail();
    void showWindow();
    QPoint cascadedPosition(const QRect& available) const;

    FileItem m_item;
    ThumbnailCache* m_thumbnailCache;
    std::shared_ptr<AFCBridge> m_afcBridge;
    QWidget* m_window;
    // Where the panel was put when it opened (the window manager may shift its frame a little).
    QPoint m_placedAt;
    QLabel* m_iconView = nullptr;
    QLabel* m_nameLabel = nullptr;
    QPointer<Spinner> m_spinner;
    std::optional<async::TaskHandle<void>> m_thumbnailTask;
};
