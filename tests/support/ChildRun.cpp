#include "ChildRun.h"

#include <QCoreApplication>
#include <QDebug>
#include <QProcessEnvironment>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

const char* const childVariable = "ORVANTA_TEST_CHILD_RUN";
const QByteArray readyLine = "ready\n";
// Only keeps a broken child from hanging the test; nothing waits for time to pass.
constexpr int limitMs = 60000;

} // namespace

bool ChildRun::asked() {
    return qEnvironmentVariableIsSet(childVariable);
}

int ChildRun::run(const std::function<QStringList()>& makeCopies) {
    const QStringList copies = makeCopies();
    for (const QString& copy : copies)
        std::fputs((copy + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fputs(readyLine.constData(), stdout);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

ChildRun::Child::~Child() {
    if (m_process.state() != QProcess::NotRunning)
        kill();
}

bool ChildRun::Child::start() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QCoreApplication::applicationFilePath(), {});
    if (!m_process.waitForStarted(limitMs)) {
        qWarning() << "The child run did not start:" << m_process.errorString();
        return false;
    }
    QByteArray printed;
    while (!printed.endsWith(readyLine)) {
        if (!m_process.waitForReadyRead(limitMs)) {
            qWarning() << "The child run ended before it was ready:" << printed;
            return false;
        }
        printed += m_process.readAllStandardOutput();
    }
    m_copies = QString::fromUtf8(printed).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    m_copies.removeLast();
    return true;
}

bool ChildRun::Child::kill() {
    ::kill(pid_t(m_process.processId()), SIGKILL);
    return m_process.waitForFinished(limitMs) && m_process.exitStatus() == QProcess::CrashExit;
}

bool ChildRun::Child::quit() {
    m_process.closeWriteChannel();
    return m_process.waitForFinished(limitMs) && m_process.exitStatus() == QProcess::NormalExit &&
           m_process.exitCode() == 0;
}
