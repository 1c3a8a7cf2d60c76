// A folder copied to the phone while the phone stops taking data for a while: the transfer waits
// and ends complete, every file whole, once the phone takes data again, whether the hold lasted
// a few seconds or longer than the device library waits for an answer.

#include "transfer/TransferManager.h"

#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QTest>

namespace {

constexpr qint64 mib = 1 << 20;

enum class Hold { seconds, pastTheLibrarysWait };

} // namespace

Q_DECLARE_METATYPE(Hold)

using Side = TransferTestCase::Side;

class tst_TransferHeldWrites : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() {
        m_device->faults().releaseWrites();
        tearDownTransfers();
    }

    void folderCopyGoesOnWhenThePhoneTakesDataAgain_data();
    void folderCopyGoesOnWhenThePhoneTakesDataAgain();
};

void tst_TransferHeldWrites::folderCopyGoesOnWhenThePhoneTakesDataAgain_data() {
    QTest::addColumn<Hold>("hold");
    QTest::newRow("held 4 s") << Hold::seconds;
    QTest::newRow("held past the library's wait for an answer") << Hold::pastTheLibrarysWait;
}

// The phone holds a write in the middle of a folder of three files. Longer than the library waits for
// room to send, the copy just waits; longer than it waits for an answer, the copy goes on over a
// new session from where the phone last confirmed.
void tst_TransferHeldWrites::folderCopyGoesOnWhenThePhoneTakesDataAgain() {
    QFETCH(Hold, hold);
    for (const QString& name : {QStringLiteral("a.mov"), QStringLiteral("b.mov"), QStringLiteral("c.mov")})
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/") + name, patternBytes(3 * mib)));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    fakemux::Faults& faults = m_device->faults();
    // From the second chunk of the second file on.
    faults.stallWrites(4 * mib);

    const Transfer started = launched({item(Side::mac, QStringLiteral("/src/Album"))},
                                      location(Side::device, QStringLiteral("/dst")));
    QVERIFY(writeStalled());
    const size_t startsBefore = serviceStarts();
    if (hold == Hold::seconds) {
        QTest::qWait(4000);
    } else {
        // Twice what the library waits for an answer.
        QVERIFY2(serviceStartedSince(startsBefore, std::chrono::minutes(1)),
                 "the copy never went on over a new session");
    }
    QVERIFY(faults.waitUntilWriteStalled(std::chrono::milliseconds(0)));
    faults.releaseWrites();

    const Transfer done = finished(started.id);
    QVERIFY2(done.state == TransferState::completed,
             qPrintable(done.error ? done.error->description() : QStringLiteral("not completed")));
    QCOMPARE(contentsOf(m_media + QStringLiteral("/dst")), contentsOf(m_mac + QStringLiteral("/src")));
    QCOMPARE(treeOf(m_media + QStringLiteral("/dst")),
             QStringList({QStringLiteral("Album/"), QStringLiteral("Album/a.mov 3145728"),
                          QStringLiteral("Album/b.mov 3145728"), QStringLiteral("Album/c.mov 3145728")}));
    if (hold == Hold::seconds)
        QCOMPARE(serviceStarts(), startsBefore);
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferHeldWrites)

#include "tst_TransferHeldWrites.moc"
