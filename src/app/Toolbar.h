#pragma once

#include "uikit/KeyViewLoopWindow.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QToolBar>

#include <functional>

class QLineEdit;
class QToolButton;
class SegmentedControl;

// The main window's toolbar: back and forward, the view modes, the search field, Copy, the
// preview toggle and the Transfer Center. It only shows and reports: each item calls the
// owner's callback, and the owner keeps the view modes, the search field and Back and Forward in
// step with its navigation state through selectViewMode(), clearSearchField() and setHistory(),
// none of which reports.
//
// Every item is a widget named by its identifier; icons only, and the user cannot rearrange it.
class Toolbar : public QToolBar {
    Q_OBJECT
public:
    static constexpr QLatin1StringView identifier{"OrvantaToolbar"};
    static constexpr QLatin1StringView backForwardItem{"BackForward"};
    static constexpr QLatin1StringView viewModeItem{"ViewMode"};
    static constexpr QLatin1StringView searchFieldItem{"SearchField"};
    static constexpr QLatin1StringView copyButtonItem{"CopyButton"};
    static constexpr QLatin1StringView previewToggleItem{"PreviewToggle"};
    static constexpr QLatin1StringView transferCenterItem{"TransferCenter"};
    static constexpr QLatin1StringView flexibleSpaceItem{"FlexibleSpace"};

    // The items shown, in order; and every item there is, in order.
    static QStringList defaultItemIdentifiers();
    static QStringList allowedItemIdentifiers();

    explicit Toolbar(QWidget* parent = nullptr);

    // The item of that identifier, made once with the toolbar; nullptr for an identifier we do
    // not know.
    QWidget* item(const QString& identifier) const;
    // The identifiers of the items on the toolbar, in order.
    QStringList itemIdentifiers() const;
    // The items that take the keyboard, in the order Tab visits them. The view modes are one
    // stop, entered at the mode shown; the arrows move between them.
    QList<KeyViewLoopWindow::Stop> keyViews() const;

    QToolButton* backButton() const { return m_backButton; }
    QToolButton* forwardButton() const { return m_forwardButton; }
    SegmentedControl* viewModeControl() const { return m_viewModeControl; }
    QLineEdit* searchField() const { return m_searchField; }
    QToolButton* copyButton() const { return m_copyButton; }
    QToolButton* previewToggle() const { return m_previewToggle; }
    QToolButton* transferCenterButton() const { return m_transferCenterButton; }

    // Selects the segment of the view mode's raw value; reports nothing.
    void selectViewMode(int rawValue);
    // Empties the search field unless it is empty; reports nothing.
    void clearSearchField();
    // Enables Back and Forward while their history has a folder to go to; both start disabled.
    void setHistory(bool canGoBack, bool canGoForward);

    // 0 for Back, 1 for Forward.
    std::function<void(int index)> onBackForward;
    // The segment the user chose.
    std::function<void(int segment)> onViewMode;
    // The field's text after each of the user's edits.
    std::function<void(const QString& text)> onSearch;
    std::function<void()> onCopy;
    std::function<void()> onTogglePreview;
    std::function<void()> onShowTransferCenter;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeItem(const QString& identifier);
    void reportCopyButtonPosition();

    QToolButton* m_backButton = nullptr;
    QToolButton* m_forwardButton = nullptr;
    SegmentedControl* m_viewModeControl = nullptr;
    QLineEdit* m_searchField = nullptr;
    QToolButton* m_copyButton = nullptr;
    QToolButton* m_previewToggle = nullptr;
    QToolButton* m_transferCenterButton = nullptr;
    QList<QWidget*> m_items;
    QPoint m_reportedCopyPosition{-1, -1};
};
