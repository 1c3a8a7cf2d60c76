#pragma once

#include "transfer/ConflictPrompter.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class AlertPresenter;

// The transfer engine's name-clash question as the window's alert: a warning with "Replace",
// "Keep Both" and "Stop" and the check box "Apply to all conflicts in this transfer". Closing it
// any other way than by the first two buttons stops the transfer.
class AlertConflictPrompter : public ConflictPrompter {
public:
    // The alert is modal to window's window; the presenter must outlive the prompter.
    AlertConflictPrompter(std::shared_ptr<AlertPresenter> presenter, QWidget* window);

    async::Task<ConflictAnswer> ask(QString itemName, std::stop_token token) override;

private:
    std::shared_ptr<AlertPresenter> m_presenter;
    QPointer<QWidget> m_window;
};
