#include "device/AFCBridge.h"
#include "device/AFCError.h"

#include "DeviceTestCase.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using async::runSync;
using Case = AFCError::Case;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
constexpr qint64 mib = 1 << 20;

} // namespace

// A device that goes away while an operation runs must fail that operation as a whole: a short
// listing or a half-removed tree reported as success would let a copy or a move lose files.
class tst_AFCBridgeLostDevice : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void resultsThatMeanTheConnectionIsGone_data();
    void resultsThatMeanTheConnectionIsGone();
    void operationFailsWholeWhenDeviceGoes_data();
    void operationFailsWholeWhenDeviceGoes();

private:
    QString onDevice(const QString& path) const { return m_media + path; }
    // Runs the named operation to its end; the error it failed with, if an AFCError.
    std::optional<AFCError> run(const QString& operation);

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
};

void tst_AFCBridgeLostDevice::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    runSync(m_bridge->connect(udid));
}

void tst_AFCBridgeLostDevice::cleanup() {
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

void tst_AFCBridgeLostDevice::resultsThatMeanTheConnectionIsGone_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("lost");
    // The library's own answers when the socket fails, a reply is cut short or garbled, or the
    // service stops answering.
    for (int result : {30, 2, 12})
        QTest::addRow("%d lost", result) << result << true;
    // What a device answers about one entry, or about its own state, while still connected.
    for (int result : {0, 8, 18})
        QTest::addRow("%d entry-level", result) << result << false;
}

void tst_AFCBridgeLostDevice::resultsThatMeanTheConnectionIsGone() {
    QFETCH(int, result);
    QFETCH(bool, lost);
    QCOMPARE(AFCError::meansLostConnection(result), lost);
    QCOMPARE(AFCError::fromLibrary(Case::fileReadFailed, "afc_file_read", result).isConnectionLost(), lost);
}

void tst_AFCBridgeLostDevice::operationFailsWholeWhenDeviceGoes_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("replies");      // answered before the device goes; 0: gone before the call
    QTest::addColumn<QList<int>>("cases"); // the error cases the operation may fail with

    const auto cases = [](std::initializer_list<Case> list) {
        QList<int> result;
        for (Case c : list)
            result.append(int(c));
        return result;
    };
    struct Operation {
        const char* name;
        int middle; // a reply half way through; 0 for a single request
        QList<int> cases;
    };
    const Operation operations[] = {
        {"list a large folder", 150, cases({Case::directoryListFailed})},
        {"remove a tree", 40, cases({Case::directoryListFailed, Case::deleteFailed})},
        {"stream a file", 3, cases({Case::fileOpenFailed, Case::fileReadFailed})},
    };
    for (const Operation& operation : operations) {
        QTest::addRow("%s, gone before", operation.name) << operation.name << 0 << operation.cases;
        // A single request is either answered or not: there is no after or midway.
        if (operation.middle == 0)
            continue;
        QTest::addRow("%s, gone after the first reply", operation.name)
            << operation.name << 1 << operation.cases;
        QTest::addRow("%s, gone midway", operation.name)
            << operation.name << operation.middle << operation.cases;
    }
}

void tst_AFCBridgeLostDevice::operationFailsWholeWhenDeviceGoes() {
    QFETCH(QString, operation);
    QFETCH(int, replies);
    QFETCH(QList<int>, cases);
    for (int i = 0; i < 300; ++i)
        QVERIFY(writeTestFile(onDevice(QStringLiteral("/Big/%1.jpg").arg(i)), "x"));
    for (int i = 0; i < 30; ++i)
        QVERIFY(writeTestFile(onDevice(QStringLiteral("/Tree/%1/%2.jpg").arg(i % 3).arg(i)), "x"));
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/clip.mov")), patternBytes(6 * mib)));
    if (replies == 0)
        m_device->unplug();
    else
        m_device->faults().unplugAfterAfcReplies(replies);

    const std::optional<AFCError> error = run(operation);

    QVERIFY2(error, "the operation reported success");
    QVERIFY2(error->isConnectionLost(), qPrintable(error->description()));
    QVERIFY2(cases.contains(int(error->errorCase())), qPrintable(error->description()));
}

std::optional<AFCError> tst_AFCBridgeLostDevice::run(const QString& operation) {
    const std::optional<QString> media;
    if (operation == QLatin1String("list a large folder"))
        return failureOf<AFCError>(m_bridge->listDirectory(udid, QStringLiteral("/Big"), media));
    if (operation == QLatin1String("remove a tree"))
        return failureOf<AFCError>(m_bridge->removeRecursively(udid, QStringLiteral("/Tree"), media));
    AFCReadStream stream = m_bridge->readStream(udid, QStringLiteral("/clip.mov"), media);
    for (;;) {
        auto chunk = stream.next();
        std::optional<AFCError> error;
        try {
            if (!runSync(std::move(chunk)))
                return std::nullopt;
        } catch (const AFCError& caught) {
            error = caught;
        }
        if (error)
            return error;
    }
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeLostDevice)
#include "tst_AFCBridgeLostDevice.moc"
