#pragma once

#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stop_token>

class QWidget;

// What an alert shows: its style, its two texts, its buttons in the order they are given, and
// optionally a one-line text field and a check box.
struct AlertRequest {
    enum class Style { warning, informational, critical };

    struct TextField {
        QString initialText;
        int width = 280;
        int height = 22;
    };

    Style style = Style::warning;
    QString message;
    QString informative;
    QStringList buttons;
    std::optional<TextField> textField;
    // The check box's title; it starts unticked.
    std::optional<QString> checkBox;
    // The index of the button that Escape and the window's close button answer; unset, the
    // "Cancel" button's, else the only button's; with several and no "Cancel" they do nothing.
    std::optional<int> escapeButton;
};

// How an alert was closed.
struct AlertResponse {
    // The first button answers this, the second one more, and so on.
    static constexpr int firstButton = 1000;

    int code = firstButton;
    bool checkBoxOn = false;
    QString text;

    int buttonIndex() const { return code - firstButton; }
    bool operator==(const AlertResponse&) const = default;
};

// Shows an alert over a window and awaits its answer without a nested event loop: the window's
// other work (and every other task) goes on while the question is open. Tests put a scripted
// presenter in its place.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;

    // Modal to parent's window (the main window when no other is meant); a stopped token
    // withdraws the question with async::CancelledError, as does the parent going away.
    virtual async::Task<AlertResponse> ask(AlertRequest request, QWidget* parent, std::stop_token token) = 0;
};

// The alert as a dialog of our own (a message box would reorder the buttons): the first button
// is the default (Return) and has the keyboard when the alert opens (a text field keeps it), no
// button becomes the default by having focus, and Escape or the window's close button answer the
// request's escape button, else a "Cancel" button when there is one, else the only button, and are
// ignored otherwise.
class DialogAlertPresenter : public AlertPresenter {
public:
    async::Task<AlertResponse> ask(AlertRequest request, QWidget* parent, std::stop_token token) override;
};

// A warning with one button, "OK": what went wrong, then why.
AlertRequest warningAlert(const QString& message, const QString& informative);

// Puts request to the user over window as a task of its own, which ends when the alert is
// answered or withdrawn (nothing is shown once window has gone). The caller keeps the handle and
// cancels it when it goes itself.
async::TaskHandle<void> presentAlert(std::shared_ptr<AlertPresenter> presenter, QWidget* window,
                                     AlertRequest request);
