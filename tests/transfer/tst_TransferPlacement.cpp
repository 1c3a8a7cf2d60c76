#include "transfer/TransferPlacement.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCLocation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"

#include "DeviceTestCase.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QTest>

#include <unistd.h>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

URL parsed(const char* text) {
    return *URL::fromString(QString::fromUtf8(text));
}

} // namespace

// Where items go: which locations are one item, the free " copy" names, and on a device the
// difference between "nothing there" and "could not look".
class tst_TransferPlacement : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sameLocation_data();
    void sameLocation();
    void freeNames_data();
    void freeNames();
    void onlyNotFoundMeansAbsentOnADevice_data();
    void onlyNotFoundMeansAbsentOnADevice();
    void containment_data();
    void containment();

private:
    std::shared_ptr<TransferPlacement> placement(bool withProvider = true) const {
        return std::make_shared<TransferPlacement>(m_bridge, withProvider ? m_provider : nullptr, m_executor);
    }

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    async::ManualClock m_clock;
    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::shared_ptr<async::SerialExecutor> m_executor = std::make_shared<async::SerialExecutor>();
};

void tst_TransferPlacement::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_shared<AFCBridge>();
    m_provider = std::make_shared<FileSystemProvider>(*m_bridge, m_clock);
}

void tst_TransferPlacement::cleanup() {
    m_provider.reset();
    m_bridge.reset();
    tearDownTest();
}

void tst_TransferPlacement::sameLocation_data() {
    QTest::addColumn<URL>("first");
    QTest::addColumn<URL>("second");
    QTest::addColumn<bool>("same");
    QTest::newRow("container and media area differ")
        << parsed("afc://UDID1/.app/com.example.notes/Documents") << parsed("afc://UDID1/Documents") << false;
    QTest::newRow("dot segments on this computer") << URL::fileURL(QStringLiteral("/a/./b/../c.txt"))
                                                   << URL::fileURL(QStringLiteral("/a/c.txt")) << true;
}

void tst_TransferPlacement::sameLocation() {
    QFETCH(URL, first);
    QFETCH(URL, second);
    QFETCH(bool, same);
    QCOMPARE(TransferPlacement::isSameLocation(first, second), same);
    QCOMPARE(TransferPlacement::isSameLocation(second, first), same);
}

void tst_TransferPlacement::freeNames_data() {
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("free");
    QTest::newRow("device: free already") << true << QStringList{} << "a.txt"
                                          << "a.txt";
    QTest::newRow("device: numbered")
        << true << QStringList{"IMG_0001.JPG", "IMG_0001 copy.JPG"} << "IMG_0001.JPG"
        << "IMG_0001 copy 2.JPG";
    QTest::newRow("computer: last extension only")
        << false << QStringList{"archive.tar.gz"} << "archive.tar.gz"
        << "archive.tar copy.gz";
    QTest::newRow("computer: hidden name") << false << QStringList{".bashrc", ".bashrc copy"} << ".bashrc"
                                           << ".bashrc copy 2";
}

void tst_TransferPlacement::freeNames() {
    QFETCH(bool, onDevice);
    QFETCH(QStringList, existing);
    QFETCH(QString, name);
    QFETCH(QString, free);
    const QString folder =
        onDevice ? m_media + QStringLiteral("/DCIM") : scratchPath(QStringLiteral("local"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString& file : existing)
        QVERIFY(writeTestFile(folder + QLatin1Char('/') + file, "x"));
    const URL base = onDevice ? AFCLocation::mediaURL(udid, QStringLiteral("/DCIM")) : URL::fileURL(folder);

    const URL result = runSync(placement()->uniqueDestination(base.appendingPathComponent(name)));

    QCOMPARE(result, base.appendingPathComponent(free));
}

void tst_TransferPlacement::onlyNotFoundMeansAbsentOnADevice_data() {
    QTest::addColumn<bool>("withProvider");
    QTest::newRow("through the provider") << true;
    QTest::newRow("through the bridge") << false;
}

void tst_TransferPlacement::onlyNotFoundMeansAbsentOnADevice() {
    QFETCH(bool, withProvider);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/a.jpg"), "x"));
    const std::shared_ptr<TransferPlacement> place = placement(withProvider);
    const URL present = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/a.jpg"));
    const URL absent = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/b.jpg"));

    QCOMPARE(runSync(place->inspect(present)).has_value(), true);
    QCOMPARE(
        runSync(place->inspect(AFCLocation::mediaURL(udid, QStringLiteral("/DCIM")))).value().isDirectory,
        true);
    QVERIFY(!runSync(place->inspect(absent)));

    // A device that cannot be asked does not say that the name is free.
    m_device->unplug();
    const std::optional<AFCError> error = failureOf<AFCError>(place->inspect(absent));
    QVERIFY(error);
    QVERIFY(error->isConnectionLost() || error->errorCase() == AFCError::Case::connectionFailed);
}

void tst_TransferPlacement::containment_data() {
    QTest::addColumn<QString>("inner");
    QTest::addColumn<QString>("outer");
    QTest::addColumn<bool>("inside");
    QTest::newRow("below") << "/A/b/c"
                           << "/A" << true;
    QTest::newRow("sibling with the same prefix") << "/AB"
                                                  << "/A" << false;
    QTest::newRow("through a link") << "/L/b"
                                    << "/A" << true;
}

void tst_TransferPlacement::containment() {
    QFETCH(QString, inner);
    QFETCH(QString, outer);
    QFETCH(bool, inside);
    const QString local = scratchPath(QStringLiteral("local"));
    QVERIFY(QDir().mkpath(local + QStringLiteral("/A/b/c")));
    QVERIFY(QDir().mkpath(local + QStringLiteral("/AB")));
    QCOMPARE(::symlink(QFile::encodeName(local + QStringLiteral("/A")).constData(),
                       QFile::encodeName(local + QStringLiteral("/L")).constData()),
             0);
    QCOMPARE(runSync(placement()->isAtOrBelow(URL::fileURL(local + inner), URL::fileURL(local + outer))),
             inside);
    if (!inner.startsWith(QStringLiteral("/L"))) {
        QCOMPARE(runSync(placement()->isAtOrBelow(AFCLocation::mediaURL(udid, inner),
                                                  AFCLocation::mediaURL(udid, outer))),
                 inside);
    }
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferPlacement)
#include "tst_TransferPlacement.moc"
