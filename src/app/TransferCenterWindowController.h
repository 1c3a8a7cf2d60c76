#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class TransferCenterViewController;
class TransferManager;

// The Transfer Center window: made on the first command and kept, so that closing it only hides
// it and the next command shows the same window, its history kept current meanwhile.
class TransferCenterWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int contentWidth = 900;
    static constexpr int contentHeight = 420;

    explicit TransferCenterWindowController(std::shared_ptr<TransferManager> transferManager,
                                            QObject* parent = nullptr);
    ~TransferCenterWindowController() override;

    QWidget* window() const { return m_window; }
    TransferCenterViewController* viewController() const { return m_viewController; }

    // Shows the window in front and gives it the keyboard.
    void showWindow();

private:
    QPointer<QWidget> m_window;
    TransferCenterViewController* m_viewController = nullptr;
};
