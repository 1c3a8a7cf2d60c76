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

std::optional<AlertRequest> refusal(const QString& oldName, const QString& newName) {
    if (newName == oldName)
        return std::nullopt;
    const QString differentName = QStringLiteral("Please choose a different name.");
    const auto refused = [&newName](const QString& why) {
        return warningAlert(QStringLiteral("The name \"%1\" cannot be used.").arg(newName), why);
    };
    if (newName.isEmpty())
        return warningAlert(QStringLiteral("Could not rename \"%1\".").arg(oldName),
                            QStringLiteral("A name cannot be empty."));
    if (newName.contains(u'/'))
        return refused(QStringLiteral("A name cannot contain \"/\". ") + differentName);
    if (newName.contains(QChar(0)))
        return refused(QStringLiteral("A name cannot contain a null character. ") + differentName);
    // "." and ".." name the folder itself and its parent, never an item in it.
    if (newName == u"." || newName == u"..")
        return refused(QStringLiteral("\".\" and \"..\" name folders themselves. ") + differentName);
    return std::nullopt;
}

AlertRequest alert(const QString& oldName, const QString& newName, std::exception_ptr failure) {
    if (isNameTaken(failure))
        return warningAlert(QStringLiteral("The name \"%1\" is already taken.").arg(newName),
                            QStringLiteral("Please choose a different name."));
    return warningAlert(QStringLiteral("Could not rename \"%1\".").arg(oldName),
                        async::describeException(failure));
}

} // namespace RenameFailure
