#pragma once

#include "DeviceTestCase.h"

#include <QApplication>

// The main() of a device test that shows widgets: a QApplication in place of the core application.
#define ORVANTA_WIDGET_DEVICE_TEST_MAIN(TestClass) ORVANTA_DEVICE_TEST_MAIN_WITH_APP(QApplication, TestClass)
