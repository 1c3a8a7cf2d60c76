// The device fixture's guard: a test that would reach anything but this process's emulator (the
// system usbmuxd and a developer's own phone behind it) is refused.
#include "DeviceTestCase.h"

namespace {
constexpr const char* addressVariable = "USBMUXD_SOCKET_ADDRESS";
}

class tst_DeviceTestCase : public DeviceTestCase {
    Q_OBJECT
private slots:
    void refusesAnyOtherAddress_data();
    void refusesAnyOtherAddress();
};

void tst_DeviceTestCase::refusesAnyOtherAddress_data() {
    QTest::addColumn<QByteArray>("address"); // null: unset
    QTest::newRow("unset") << QByteArray();
    // The library falls back to the system socket on a value it cannot parse.
    QTest::newRow("unparsable") << QByteArray("UNIX:");
    QTest::newRow("the system daemon") << QByteArray("UNIX:/var/run/usbmuxd");
    QTest::newRow("usbmuxd over TCP") << QByteArray("127.0.0.1:27015");
    QTest::newRow("beside the emulator's socket")
        << QByteArray::fromStdString(emulator().socketAddress() + "2");
}

void tst_DeviceTestCase::refusesAnyOtherAddress() {
    QFETCH(QByteArray, address);
    // No client library thread runs here, so nothing reads the variable while it changes.
    const QByteArray own = qgetenv(addressVariable);
    if (address.isNull())
        qunsetenv(addressVariable);
    else
        qputenv(addressVariable, address);
    QEXPECT_FAIL("", "the fixture must refuse to run", Continue);
    setUpTest();
    qputenv(addressVariable, own);
    setUpTest();
}

ORVANTA_DEVICE_TEST_MAIN(tst_DeviceTestCase)
#include "tst_DeviceTestCase.moc"
