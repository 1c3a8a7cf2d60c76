#include "browser/RenameFailure.h"

#include "device/AFCError.h"
#include "platform/Error.h"
#include "platform/async/AsyncLog.h"

#include <cerrno>

namespace RenameFailure {

bool isNameTaken(std::exception_ptr failure) {
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const FileError& error) {
        return error.code() == EEXIST;
    } catch (const AFCError& error) {
        return error.posixError() == EEXIST;
    } catch (const NameTakenError&) {
        return true;
    } catch (...) {
        return false;
    }
}

AlertRequest alert(const QString& oldName, const QString& newName, std::exception_ptr failure) {
    AlertRequest request;
    request.style = AlertRequest::Style::warning;
    request.buttons = QStringList{QStringLiteral("OK")};
    if (isNameTaken(failure)) {
        request.message = QStringLiteral("The name \"%1\" is already taken.").arg(newName);
        request.informative = QStringLiteral("Please choose a different name.");
    } else {
        request.message = QStringLiteral("Could not rename \"%1\".").arg(oldName);
        request.informative = async::describeException(failure);
    }
    return request;
}

} // namespace RenameFailure
