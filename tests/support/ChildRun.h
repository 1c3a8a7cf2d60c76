#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// Another run of the program, for tests of what a run leaves behind: the test executable started
// again with ORVANTA_TEST_CHILD_RUN set and the test's environment (TMPDIR included). The child
// makes its copies where the program would, prints their paths and waits on its standard input.
// The test then kills it, as a crash or a signal's default action would end it, or closes its
// input, and the child returns from main as a clean quit does.
namespace ChildRun {

// Whether this process is such a child; for main(), before anything else runs.
bool asked();
// For main(): makes the copies, prints where they are and waits for the end of the input;
// main's status.
int run(const std::function<QStringList()>& makeCopies);

// The test's side.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Kills a child still running.
    ~Child();

    // Starts this executable as a child and reads where it made its copies; false (with a
    // warning) when it did not report them.
    bool start();
    const QStringList& copies() const { return m_copies; }
    // SIGKILL, and waits for the end.
    bool kill();
    // Closes the child's input and waits for a normal end with status 0.
    bool quit();

private:
    QProcess m_process;
    QStringList m_copies;
};

} // namespace ChildRun
