#include "device/ProcessRunnerError.h"

ProcessRunnerError ProcessRunnerError::executableNotFound(QString name) {
    ProcessRunnerError error(Case::executableNotFound);
    error.m_name = std::move(name);
    return error;
}

ProcessRunnerError ProcessRunnerError::nonZeroExit(int32_t exitCode, QString standardError, QString command) {
    ProcessRunnerError error(Case::nonZeroExit);
    error.m_exitCode = exitCode;
    error.m_standardError = std::move(standardError);
    error.m_command = std::move(command);
    return error;
}

ProcessRunnerError ProcessRunnerError::timeout(QString command) {
    ProcessRunnerError error(Case::timeout);
    error.m_command = std::move(command);
    return error;
}

QString ProcessRunnerError::description() const {
    switch (m_case) {
    case Case::executableNotFound:
        return QStringLiteral("Executable not found: ") + m_name;
    case Case::nonZeroExit:
        return QStringLiteral("Command '") + m_command + QStringLiteral("' exited with code ") +
               QString::number(m_exitCode) + QStringLiteral(": ") + m_standardError;
    case Case::timeout:
        return QStringLiteral("Command '") + m_command + QStringLiteral("' timed out");
    }
    return QString();
}
