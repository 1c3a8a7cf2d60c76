#include "transfer/TransferErrorMapping.h"

#include "device/AFCError.h"
#include "platform/Error.h"

#include <libimobiledevice/afc.h>

#include <cerrno>

TransferError TransferErrorMapping::fromErrno(int code, const QString& description) {
    switch (code) {
    case ENOENT:
        return TransferError::fileNotFound(description);
    case EACCES:
    case EPERM:
        return TransferError::permissionDenied();
    case ENOSPC:
    case EDQUOT:
        return TransferError::diskFull();
    default:
        return TransferError::ioError(description);
    }
}

TransferError TransferErrorMapping::fromException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TransferError& transferError) {
        return transferError;
    } catch (const AFCError& afcError) {
        if (afcError.isConnectionLost())
            return TransferError::deviceDisconnected();
        if (afcError.libraryResult() == int(AFC_E_NO_SPACE_LEFT))
            return TransferError::diskFull();
        if (const std::optional<int> posix = afcError.posixError())
            return fromErrno(*posix, afcError.description());
        return TransferError::ioError(afcError.description());
    } catch (const FileError& fileError) {
        return fromErrno(fileError.code(), fileError.description());
    } catch (const Error& other) {
        return TransferError::ioError(other.description());
    } catch (const std::exception& other) {
        return TransferError::ioError(QString::fromLocal8Bit(other.what()));
    } catch (...) {
        return TransferError::ioError(QStringLiteral("Unknown error"));
    }
}
