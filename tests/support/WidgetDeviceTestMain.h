#pragma once

#include "DeviceTestCase.h"

#include <QApplication>

// The main() of a device test that shows widgets: as ORVANTA_DEVICE_TEST_MAIN, with a
// QApplication in place of the core application.
#define ORVANTA_WIDGET_DEVICE_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv) {                                                                        \
        if (!DeviceTestCase::startEmulator())                                                                \
            return 1;                                                                                        \
        int status = 0;                                                                                      \
        {                                                                                                    \
            QApplication app(argc, argv);                                                                    \
            TestClass test;                                                                                  \
            QTEST_SET_MAIN_SOURCE_PATH                                                                       \
            status = QTest::qExec(&test, argc, argv);                                                        \
        }                                                                                                    \
        DeviceTestCase::stopEmulator();                                                                      \
        return status;                                                                                       \
    }
