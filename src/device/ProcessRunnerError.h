#pragma once

#include "platform/Error.h"

#include <QString>

#include <cstdint>

// Why running a helper tool failed. The runner raises only executableNotFound and timeout: a tool
// that exits with a non-zero status is an ordinary ProcessResult, and nonZeroExit exists for
// callers that want to word such a result.
class ProcessRunnerError : public Error {
public:
    enum class Case { executableNotFound, nonZeroExit, timeout };

    static ProcessRunnerError executableNotFound(QString name);
    static ProcessRunnerError nonZeroExit(int32_t exitCode, QString standardError, QString command);
    static ProcessRunnerError timeout(QString command);

    Case errorCase() const { return m_case; }
    // The tool name of executableNotFound.
    const QString& name() const { return m_name; }
    // The command text of nonZeroExit and timeout: tool name, a blank, the arguments.
    const QString& command() const { return m_command; }
    int32_t exitCode() const { return m_exitCode; }
    const QString& standardError() const { return m_standardError; }

    QString description() const override;

private:
    explicit ProcessRunnerError(Case errorCase) : m_case(errorCase) {}

    Case m_case;
    QString m_name;
    QString m_command;
    int32_t m_exitCode = 0;
    QString m_standardError;
};
