#include "app/AlertConflictPrompter.h"

#include "uikit/AlertPresenter.h"

AlertConflictPrompter::AlertConflictPrompter(std::shared_ptr<AlertPresenter> presenter, QWidget* window)
    : m_presenter(std::move(presenter)), m_window(window) {}

async::Task<ConflictAnswer> AlertConflictPrompter::ask(QString itemName, std::stop_token token) {
    AlertRequest request;
    request.style = AlertRequest::Style::warning;
    request.message = messageText(itemName);
    request.informative = informativeText();
    request.buttons = buttonTitles();
    request.checkBox = checkBoxTitle();
    // The presenter is held for the whole question: the prompter itself may go meanwhile.
    const std::shared_ptr<AlertPresenter> presenter = m_presenter;
    async::Task<AlertResponse> asking = presenter->ask(request, m_window.data(), token);
    const AlertResponse response = co_await asking;
    ConflictAnswer answer;
    answer.applyToAll = response.checkBoxOn;
    switch (response.buttonIndex()) {
    case 0:
        answer.resolution = ConflictResolution::replace;
        break;
    case 1:
        answer.resolution = ConflictResolution::keepBoth;
        break;
    default:
        answer.resolution = ConflictResolution::stop;
        break;
    }
    co_return answer;
}
