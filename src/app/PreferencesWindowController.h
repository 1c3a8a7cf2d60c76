#pragma once

#include <QObject>
#include <QWidget>

#include <memory>

class FolderChooser;
class PreferencesPane;

// Owns the Preferences window: a fixed 480 × 520 window titled "Orvanta Preferences" that can
// be closed but neither resized nor minimised. Closing only hides it; the application keeps the
// controller and shows the same window, with the same controls, on every later request.
class PreferencesWindowController : public QObject {
    Q_OBJECT
public:
    explicit PreferencesWindowController(std::shared_ptr<FolderChooser> chooser = nullptr);
    ~PreferencesWindowController() override;

    QWidget* window() const { return m_window.get(); }
    PreferencesPane* contentViewController() const { return m_pane; }

    // Shows the window and brings it to the front.
    void showWindow();

private:
    std::unique_ptr<QWidget> m_window;
    PreferencesPane* m_pane = nullptr;
};
