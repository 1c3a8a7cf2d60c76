#pragma once

#include "models/TransferError.h"

#include <exception>

// Turns whatever a copy failed with into the transfer's error, by what the error means rather
// than how it is numbered: an engine error passes through unchanged; a device error becomes
// deviceDisconnected when the connection is gone, diskFull when the device or this computer ran
// out of space, and otherwise the meaning of the local errno it carries, or ioError with its own
// text; a file error maps by errno. Never called with a cancellation.
class TransferErrorMapping {
public:
    static TransferError fromException(const std::exception_ptr& error);
    // ENOENT fileNotFound, EACCES and EPERM permissionDenied, ENOSPC and EDQUOT diskFull, anything
    // else ioError with the text given.
    static TransferError fromErrno(int code, const QString& description);
    // Whether error is an E (or derives from one), for callers that treat one kind apart.
    template <typename E> static bool holds(const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const E&) {
            return true;
        } catch (...) {
            return false;
        }
    }

    TransferErrorMapping() = delete;
};
