#pragma once

#include "uikit/AlertPresenter.h"

#include <QString>

#include <exception>
#include <optional>

// What the user is told when a rename fails: a name already taken in the folder is named as such,
// a name that no item can bear with the reason, any other failure with its description. Every
// browser's rename shows the same alerts.
namespace RenameFailure {

// Whether the failure says that something in the folder already bears the new name.
bool isNameTaken(std::exception_ptr failure);

// The alert that refuses newName (typed, trimmed, for the item called oldName) before anything is
// asked of the folder: empty, holding "/" or a null character, or "." or "..". Nothing when the
// name can be given; an unchanged name is no refusal either (nothing is renamed, nothing said).
std::optional<AlertRequest> refusal(const QString& oldName, const QString& newName);

// The alert for renaming oldName to newName that failed so.
AlertRequest alert(const QString& oldName, const QString& newName, std::exception_ptr failure);

} // namespace RenameFailure
