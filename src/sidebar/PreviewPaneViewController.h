#pragma once

#include "models/FileItem.h"
#include "models/iOSDevice.h"
#include "platform/Subscription.h"
#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"

#include <QImage>
#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AFCBridge;
class NavigationState;
class QLabel;
class UiTimerSource;

// The right-hand pane of the main window. It follows the selection and the current device: one
// item shows its icon or thumbnail and its facts, several items a summary, no selection the
// device's card, and nothing at all a hint. It only reads; it changes nothing.
//
// A thumbnail is asked for images and videos while thumbnails are on. The icon area stays empty
// for up to a second meanwhile, so that the generic icon does not flash before a quick thumbnail;
// a slower one replaces the generic icon when it comes. A newer selection drops whatever the
// older one still had on its way.
class PreviewPaneViewController : public QWidget {
    Q_OBJECT
public:
    using ThumbnailSource = std::function<async::Task<QImage>(FileItem, AFCBridge*)>;
    static constexpr std::chrono::milliseconds fallbackIconDelay{1000};
    static constexpr std::chrono::milliseconds thumbnailFade{200};

    // What the icon area shows, for the look and for tests.
    enum class IconState { empty, typeIcon, symbol, thumbnail };

    // The navigation state must outlive the pane; the bridge is kept alive by the pane and its
    // requests. Without a thumbnail source the shared thumbnail cache answers.
    PreviewPaneViewController(NavigationState& navigationState, std::shared_ptr<AFCBridge> afcBridge,
                              UiTimerSource& timers, ThumbnailSource thumbnailSource = {},
                              QWidget* parent = nullptr);
    ~PreviewPaneViewController() override;

    void showSelection(const QSet<FileItem>& items);
    void showDevice(const iOSDevice& device);
    void showEmptyState(bool empty);

    QWidget* outerStack() const { return m_outerStack; }
    QWidget* deviceInfoStack() const { return m_deviceInfoStack; }
    QLabel* iconView() const { return m_iconView; }
    QLabel* nameLabel() const { return m_nameLabel; }
    QLabel* kindLabel() const { return m_kindLabel; }
    QLabel* sizeLabel() const { return m_sizeLabel; }
    QLabel* dateLabel() const { return m_dateLabel; }
    QLabel* emptyLabel() const { return m_emptyLabel; }
    QLabel* deviceIconView() const { return m_deviceIconView; }
    QLabel* deviceNameLabel() const { return m_deviceNameLabel; }
    QLabel* deviceModelLabel() const { return m_deviceModelLabel; }
    QLabel* deviceIOSLabel() const { return m_deviceIOSLabel; }
    QLabel* deviceBatteryLabel() const { return m_deviceBatteryLabel; }
    QLabel* deviceUDIDLabel() const { return m_deviceUDIDLabel; }

    IconState iconState() const { return m_iconState; }
    // The icon's name: a freedesktop type icon or a symbol; "" for none or a thumbnail.
    QString iconName() const { return m_iconName; }
    // Whether a thumbnail request is still waiting for its answer.
    bool isWaitingForThumbnail() const { return m_thumbnailTask && !m_thumbnailTask->isFinished(); }

    // The kind text of one item: its type's description, else its kind's name.
    static QString kindText(const FileItem& item);
    // The freedesktop icon names for an item's type, best first.
    static QStringList typeIconNames(const FileItem& item);

private:
    void setupContent();
    void buildDeviceCard();
    void cancelIconTasks();
    void setTypeIcon(const FileItem& item);
    void setSymbol(const QString& symbol, const QString& description);
    void setThumbnail(const QImage& image, const QString& name);
    void clearIcon();
    void startThumbnail(const FileItem& item);
    // The "Modified" row's value; an empty one hides the row, title and all.
    void setDateText(const QString& text);

    NavigationState& m_navigationState;
    std::shared_ptr<AFCBridge> m_afcBridge;
    UiTimerSource& m_timers;
    ThumbnailSource m_thumbnailSource;
    std::vector<Subscription> m_cancellables;

    QWidget* m_outerStack = nullptr;
    QLabel* m_iconView = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_kindLabel = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QLabel* m_dateLabel = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QWidget* m_deviceInfoStack = nullptr;
    QLabel* m_deviceIconView = nullptr;
    QLabel* m_deviceNameLabel = nullptr;
    QLabel* m_deviceModelLabel = nullptr;
    QLabel* m_deviceIOSLabel = nullptr;
    QLabel* m_deviceBatteryLabel = nullptr;
    QLabel* m_deviceUDIDLabel = nullptr;

    std::optional<async::TaskHandle<void>> m_thumbnailTask;
    Subscription m_fallbackIconTimer;
    // Bumped by every new view, so that a late answer knows it is stale.
    quint64 m_generation = 0;
    IconState m_iconState = IconState::empty;
    QString m_iconName;
};
