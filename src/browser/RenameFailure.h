#pragma once

#include "uikit/AlertPresenter.h"

#include <QString>

#include <exception>

// What the user is told when a rename fails: a name already taken in the folder is named as such,
// any other failure with its description. Every browser's rename shows the same alert.
namespace RenameFailure {

// Whether the failure says that something in the folder already bears the new name.
bool isNameTaken(std::exception_ptr failure);

// The alert for renaming oldName to newName that failed so.
AlertRequest alert(const QString& oldName, const QString& newName, std::exception_ptr failure);

} // namespace RenameFailure
