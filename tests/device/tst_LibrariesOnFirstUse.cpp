#include "device/AFCBridge.h"
#include "device/IMobileDeviceLibrary.h"
#include "platform/LazyLibrary.h"
#include "platform/async/RunSync.h"
#include "transfer/Sha256.h"

#include "DeviceTestCase.h"

#include <QTest>

#include <openssl/opensslv.h>

using async::runSync;

// The device client and the digest library load when first used, never with the program: a
// link that brought them back would slow every start-up again.
class tst_LibrariesOnFirstUse : public DeviceTestCase {
    Q_OBJECT

private slots:
    void loadedOnlyWhenUsed();
    void missingLibraryIsAnError();
};

void tst_LibrariesOnFirstUse::loadedOnlyWhenUsed() {
    const QByteArray crypto = "libcrypto.so." + QByteArray::number(OPENSSL_SHLIB_VERSION);
    QVERIFY(!IMobileDeviceLibrary::isLoaded());
    QVERIFY(!LazyLibrary::isInProcess(crypto.constData()));

    QCOMPARE(Sha256::hexOf("abc"), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QVERIFY(LazyLibrary::isInProcess(crypto.constData()));

    const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
    addDevice(describeDevice(udid));
    AFCBridge bridge;
    runSync(bridge.connect(udid));
    QVERIFY(IMobileDeviceLibrary::isLoaded());
    QVERIFY(bridge.isConnected(udid));
    runSync(bridge.disconnectAll(udid));
}

void tst_LibrariesOnFirstUse::missingLibraryIsAnError() {
    LazyLibrary missing("liborvanta-no-such-library.so.1");
    QVERIFY(!missing.symbol("anything"));
    QVERIFY(missing.error().contains(QStringLiteral("liborvanta-no-such-library")));
    QVERIFY(!missing.isLoaded());

    LazyLibrary zlib("libz.so.1");
    QVERIFY(zlib.symbol("zlibVersion"));
    QVERIFY(!zlib.symbol("orvanta_no_such_function"));
    QVERIFY(zlib.error().isEmpty());
    QVERIFY(zlib.isLoaded());
}

ORVANTA_DEVICE_TEST_MAIN(tst_LibrariesOnFirstUse)
#include "tst_LibrariesOnFirstUse.moc"
