#pragma once

#include "emulator/Emulator.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstddef>
#include <memory>

// Base of every test class that talks to a device. One emulator serves the whole test executable;
// main() starts it and points USBMUXD_SOCKET_ADDRESS at it before any thread exists (the client
// library reads the variable on every connection, and setenv races with getenv). Each test starts
// with no devices and a fresh scratch folder; helpers add devices and run the helper tools.
//
// A subclass that declares its own init() or cleanup() slot hides these; it then calls
// setUpTest() and tearDownTest() itself.
class DeviceTestCase : public QObject {
    Q_OBJECT
public:
    // The emulator of this process; only valid between startEmulator() and stopEmulator().
    static fakemux::Emulator& emulator();
    // For main(): makes the emulator's folder, sets USBMUXD_SOCKET_ADDRESS, then starts the
    // emulator. Returns false (with a message on stderr) when it could not.
    static bool startEmulator();
    static void stopEmulator();
    // Lets what the last test's end cancelled resume and end, while the application's event queue
    // is still there to deliver it: a task left waiting there would be reported as a leak.
    static void endSpawnedTasks();
    // Bridges destroyed while a copy ran finish closing on threads of their own; the emulator
    // must outlive them.
    static void waitForRetiredBridges();
    // Runs the loop until the device holds a request (Faults::holdNext); false when none came.
    static bool requestHeld(fakemux::VirtualDevice& device);
    // How many services the devices have been asked to start: one for each session opened.
    static size_t serviceStarts();
    // Runs the loop until a device was asked to start a service since serviceStarts() gave
    // before; false when none was within limit.
    static bool serviceStartedSince(size_t before, std::chrono::milliseconds limit);

    struct ToolResult {
        int exitCode = -1;
        QString standardOutput;
        QString standardError;
    };

protected:
    // A device with the given UDID and name whose media folder is a fresh folder in scratch.
    fakemux::DeviceDescription describeDevice(const QString& udid,
                                              const QString& name = QStringLiteral("Test iPhone"));
    fakemux::VirtualDevice& addDevice(fakemux::DeviceDescription description);
    // A folder below the per-test scratch folder, created on demand.
    QString scratchPath(const QString& relative = QString()) const;
    // Runs one of the libimobiledevice tools to its end; by default the tool inherits this process's
    // environment and with it the emulator's address.
    ToolResult runTool(const QString& tool, const QStringList& arguments,
                       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    void setUpTest();
    void tearDownTest();

private slots:
    // Not test functions: QtTest calls these by name before and after each test.
    void initTestCase();
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

private:
    std::unique_ptr<QTemporaryDir> m_scratch;
};

// The body of the main() of a device test executable: the emulator starts before QtTest creates any
// thread, and before the application object of the given class exists. For a main() that first
// does something of its own; else ORVANTA_DEVICE_TEST_MAIN_WITH_APP.
#define ORVANTA_DEVICE_TEST_RUN(ApplicationClass, TestClass)                                                 \
    if (!DeviceTestCase::startEmulator())                                                                    \
        return 1;                                                                                            \
    int status = 0;                                                                                          \
    {                                                                                                        \
        ApplicationClass app(argc, argv);                                                                    \
        TestClass test;                                                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        status = QTest::qExec(&test, argc, argv);                                                            \
        DeviceTestCase::endSpawnedTasks();                                                                   \
    }                                                                                                        \
    DeviceTestCase::waitForRetiredBridges();                                                                 \
    DeviceTestCase::stopEmulator();                                                                          \
    return status;

#define ORVANTA_DEVICE_TEST_MAIN_WITH_APP(ApplicationClass, TestClass)                                       \
    int main(int argc, char** argv) {                                                                        \
        ORVANTA_DEVICE_TEST_RUN(ApplicationClass, TestClass)                                                 \
    }

#define ORVANTA_DEVICE_TEST_MAIN(TestClass) ORVANTA_DEVICE_TEST_MAIN_WITH_APP(QCoreApplication, TestClass)
