#include "app/AlertConflictPrompter.h"

#include "uikit/AlertPresenter.h"

namespace {

// The buttons' places in the alert, in the order of their titles.
constexpr int replaceButton = 0;
constexpr int keepBothButton = 1;
constexpr int stopButton = 2;

} // namespace

AlertConflictPrompter::AlertConflictPrompter(std::shared_ptr<AlertPresenter> presenter, QWidget* window)
    : m_presenter(std::move(presenter)), m_window(window) {}

async::Task<ConflictAnswer> AlertConflictPrompter::ask(QString itemName, std::stop_token token) {
    AlertRequest request;
    request.style = AlertRequest::Style::warning;
    request.message = messageText(itemName);
    request.informative = informativeText();
    request.buttons = buttonTitles();
    request.checkBox = checkBoxTitle();
    // Escape leaves the question as it leaves every other one: the answer that changes nothing
    // more, Stop. Return stays Replace, the first button.
    request.escapeButton = stopButton;
    // The presenter is held for the whole question: the prompter itself may go meanwhile.
    const std::shared_ptr<AlertPresenter> presenter = m_presenter;
    async::Task<AlertResponse> asking = presenter->ask(request, m_window.data(), token);
    const AlertResponse response = co_await asking;
    ConflictAnswer answer;
    answer.applyToAll = response.checkBoxOn;
    switch (response.buttonIndex()) {
    case replaceButton:
        answer.resolution = ConflictResolution::replace;
        break;
    case keepBothButton:
        answer.resolution = ConflictResolution::keepBoth;
        break;
    default:
        answer.resolution = ConflictResolution::stop;
        break;
    }
    co_return answer;
}
