#pragma once

// ask(): puts a modal question to the user from inside a coroutine. The dialog is opened with
// open(), never exec(): a nested event loop would hold up every other task until the
// user answers. Cancelling the token withdraws the question: the dialog is rejected and the
// coroutine gets CancelledError. When the question ends, the dialog is closed and the keyboard goes
// back to what it was asked over (see ModalStack).

#include "platform/async/Task.h"

#include <stop_token>

class QDialog;

namespace async {

// Opens dialog and resumes with its result code (QDialog::Accepted, Rejected, or what done()
// was given). The caller keeps ownership of the dialog. Throws CancelledError when token is or
// becomes stopped, or when the dialog is destroyed before it was answered.
Task<int> ask(QDialog* dialog, std::stop_token token);

} // namespace async
