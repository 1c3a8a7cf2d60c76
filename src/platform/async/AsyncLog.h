#pragma once

// Log category of the asynchronous layer: lost continuations, unawaited task failures and
// jobs that threw out of an executor must leave a trace somewhere.

#include <QLoggingCategory>

#include <exception>

namespace async {

Q_DECLARE_LOGGING_CATEGORY(lcAsync)

// A readable text for a caught exception: what() of a std::exception, a fixed text for
// cancellation, and a generic text for anything else.
QString describeException(std::exception_ptr error);

} // namespace async
