#include "uikit/FolderChooser.h"

#include "uikit/Ask.h"

#include <QDialog>
#include <QFileDialog>
#include <QPointer>

async::Task<std::optional<URL>> DialogFolderChooser::choose(Request request, QWidget* parent,
                                                            std::stop_token token) {
    QPointer<QFileDialog> dialog = new QFileDialog(parent);
    dialog->setObjectName(QStringLiteral("folderChooser"));
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (!request.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, request.prompt);
    // Qt titles a folder dialog "Find Directory"; what the user is asked for says more.
    if (const QString title = request.message.isEmpty() ? request.prompt : request.message; !title.isEmpty())
        dialog->setWindowTitle(title);
    if (request.directory && request.directory->isFileURL())
        dialog->setDirectory(request.directory->toLocalFile());
    dialog->setWindowModality(Qt::WindowModal);

    std::exception_ptr failure;
    int result = QDialog::Rejected;
    try {
        result = co_await async::ask(dialog.data(), token);
    } catch (...) {
        failure = std::current_exception();
    }
    std::optional<URL> chosen;
    if (!failure && dialog && result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        chosen = URL::fileURL(dialog->selectedFiles().first(), true);
    if (dialog)
        dialog->deleteLater();
    if (failure)
        std::rethrow_exception(failure);
    co_return chosen;
}
