#include "transfer/TransferManager.h"

#include "device/LeftoverJournal.h"
#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "services/PreferencesViewController.h"

#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

using Side = TransferTestCase::Side;

namespace {

QStringList filesOf(const QMap<QString, QByteArray>& items) {
    QStringList files;
    for (auto it = items.cbegin(); it != items.cend(); ++it) {
        if (!it.key().endsWith(QLatin1Char('/')))
            files.append(it.key());
    }
    return files;
}

} // namespace

// Random copies and moves in every direction, with random answers to name clashes, cancels and
// device faults, each checked against what the destination and the sources must still hold: a
// file that was there stays unless this step replaced it by a whole copy of its source, nothing
// half made or set aside survives a step, and a source goes only when its move took it whole.
// Seeded: the same run every time (ORVANTA_SOAK_SEED picks another).
class tst_TransferSoak : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() { tearDownTransfers(); }

    void randomCopiesAndMovesLoseNothing();

private:
    // Fills the staging folder of side with one or two items of random content; their names.
    QStringList makeSources(Side side, int step);
    QString checkStep(const QMap<QString, QByteArray>& before, const QMap<QString, QByteArray>& after,
                      const QMap<QString, QByteArray>& sources, const QMap<QString, QByteArray>& sourcesAfter,
                      const Transfer& record, bool move) const;

    QRandomGenerator m_random;
};

QStringList tst_TransferSoak::makeSources(Side side, int step) {
    const QString staging = root(side) + QStringLiteral("/s");
    QDir(staging).removeRecursively();
    QDir().mkpath(staging);
    static const QStringList topNames{"a", "b.txt", "D", "a copy"};
    static const QStringList innerNames{"x", "y.txt"};
    QStringList names;
    const int count = 1 + int(m_random.bounded(2));
    for (int i = 0; i < count; ++i) {
        const QString name = topNames.at(int(m_random.bounded(topNames.size())));
        if (names.contains(name))
            continue;
        names.append(name);
        const auto content = [&](const QString& path) {
            QByteArray bytes = QStringLiteral("step %1 %2 ").arg(step).arg(path).toUtf8();
            bytes += patternBytes(qint64(m_random.bounded(200 * 1024)));
            return bytes;
        };
        if (m_random.bounded(3) == 0) {
            QDir().mkpath(staging + QLatin1Char('/') + name);
            for (const QString& inner : innerNames) {
                if (m_random.bounded(3) != 0)
                    writeTestFile(staging + QLatin1Char('/') + name + QLatin1Char('/') + inner,
                                  content(name + inner));
            }
        } else {
            writeTestFile(staging + QLatin1Char('/') + name, content(name));
        }
    }
    return names;
}

QString tst_TransferSoak::checkStep(const QMap<QString, QByteArray>& before,
                                    const QMap<QString, QByteArray>& after,
                                    const QMap<QString, QByteArray>& sources,
                                    const QMap<QString, QByteArray>& sourcesAfter, const Transfer& record,
                                    bool move) const {
    QSet<QByteArray> sourceContents;
    for (const QString& file : filesOf(sources))
        sourceContents.insert(sources.value(file));
    QSet<QByteArray> arrived;
    for (const QString& file : filesOf(after))
        arrived.insert(after.value(file));
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (it.key().contains(QStringLiteral(".orvanta-")))
            return QStringLiteral("a hidden item survived: ") + it.key();
    }
    // What was there: unchanged, or replaced by a whole copy of the source of that very path.
    for (const QString& file : filesOf(before)) {
        if (after.contains(file)) {
            if (after.value(file) != before.value(file) && after.value(file) != sources.value(file))
                return QStringLiteral("changed into something that is not its source: ") + file;
            continue;
        }
        // Gone: only when an item of the other kind took the place of it or of a folder holding it.
        bool replaced = false;
        QString prefix;
        for (const QString& part : file.split(QLatin1Char('/'))) {
            prefix = prefix.isEmpty() ? part : prefix + QLatin1Char('/') + part;
            if (prefix != file && after.contains(prefix) && after.value(prefix) == sources.value(prefix) &&
                sources.contains(prefix))
                replaced = true;
        }
        if (after.contains(file + QLatin1Char('/')) && sources.contains(file + QLatin1Char('/')))
            replaced = true;
        if (!replaced)
            return QStringLiteral("lost: ") + file;
    }
    // Everything new is a whole copy of a source.
    for (const QString& file : filesOf(after)) {
        if (!before.contains(file) && !sourceContents.contains(after.value(file)))
            return QStringLiteral("not a whole copy of any source: ") + file;
    }
    if (record.state == TransferState::completed) {
        for (const QByteArray& content : std::as_const(sourceContents)) {
            if (!arrived.contains(content))
                return QStringLiteral(
                           "a completed transfer did not copy everything: before %1 after %2 sources %3")
                    .arg(before.keys().join(QLatin1Char(',')), after.keys().join(QLatin1Char(',')),
                         sources.keys().join(QLatin1Char(',')));
        }
    }
    // A source that left its folder is at the destination, whole.
    for (const QString& file : filesOf(sources)) {
        if (!sourcesAfter.contains(file) && !arrived.contains(sources.value(file)))
            return QStringLiteral("a source went without its copy: ") + file;
        if (sourcesAfter.contains(file) && sourcesAfter.value(file) != sources.value(file))
            return QStringLiteral("a source was changed: ") + file;
    }
    if (!move && sourcesAfter != sources)
        return QStringLiteral("a copy touched its sources");
    // Report lines name files where they are, never where they were made.
    for (const TransferReportEntry& entry : record.reportEntries) {
        if (entry.destinationURL().absoluteString().contains(QStringLiteral(".orvanta-")))
            return QStringLiteral("a report line names a hidden item");
    }
    return QString();
}

void tst_TransferSoak::randomCopiesAndMovesLoseNothing() {
    const quint32 seed = qEnvironmentVariableIsSet("ORVANTA_SOAK_SEED")
                             ? quint32(qEnvironmentVariableIntValue("ORVANTA_SOAK_SEED"))
                             : 20261207u;
    m_random.seed(seed);
    const std::shared_ptr<LeftoverJournal> journal = LeftoverJournal::shared();
    constexpr int steps = 300;
    int completed = 0;
    int failed = 0;
    int cancelled = 0;
    for (int step = 0; step < steps; ++step) {
        const Side from = m_random.bounded(2) ? Side::device : Side::mac;
        const Side to = m_random.bounded(2) ? Side::device : Side::mac;
        const bool move = m_random.bounded(4) == 0;
        const QString destination = root(to) + QStringLiteral("/w");
        QDir().mkpath(destination);
        if (treeOf(destination).size() > 40) {
            QDir(destination).removeRecursively();
            QDir().mkpath(destination);
        }
        const QStringList names = makeSources(from, step);
        // The browser's listings of the last step's sources are no longer true.
        m_provider->invalidateCache();
        QList<FileItem> items;
        for (const QString& name : names)
            items.append(item(from, QStringLiteral("/s/") + name));

        m_prompter->questions.clear();
        m_prompter->answers.clear();
        for (int i = 0; i < 6; ++i) {
            const quint32 pick = m_random.bounded(10);
            const ConflictResolution resolution = pick < 4   ? ConflictResolution::replace
                                                  : pick < 8 ? ConflictResolution::keepBoth
                                                             : ConflictResolution::stop;
            m_prompter->answers.append(answer(resolution, m_random.bounded(5) == 0));
        }
        const quint32 fault = m_random.bounded(8);
        QString faultName = QStringLiteral("none");
        m_prompter->onAsk = {};
        if (fault == 0 && from == Side::device) {
            m_device->faults().readErrorAt(m_random.bounded(150 * 1024));
            faultName = QStringLiteral("device read error");
        } else if (fault == 1 && to == Side::device) {
            m_device->faults().setQuota(m_random.bounded(300 * 1024));
            faultName = QStringLiteral("device full");
        } else if (fault == 2) {
            m_prompter->onAsk = [this] {
                m_manager->cancelAllTransfers();
            };
            faultName = QStringLiteral("cancel at a question");
        }
        // Cancelled once a file has arrived, while it is being checked.
        const bool cancelAtCheck = fault == 3;
        PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey,
                                                  cancelAtCheck);
        if (cancelAtCheck)
            faultName = QStringLiteral("cancel once a file arrived");
        m_manager->setBeforeVerification([this, cancelAtCheck](const URL&, const URL&) {
            if (cancelAtCheck)
                m_manager->cancelAllTransfers();
        });

        const QMap<QString, QByteArray> before = contentsOf(destination, true);
        const QMap<QString, QByteArray> sources = contentsOf(root(from) + QStringLiteral("/s"), true);
        Transfer record;
        if (move) {
            const QUuid last = m_manager->completedTransfers.value().isEmpty()
                                   ? QUuid()
                                   : m_manager->completedTransfers.value().front().id;
            try {
                async::runSync(m_manager->moveItems(items, location(to, QStringLiteral("/w"))));
            } catch (...) {
            }
            // A move that renamed directly made no transfer of its own.
            if (!m_manager->completedTransfers.value().isEmpty() &&
                m_manager->completedTransfers.value().front().id != last)
                record = m_manager->completedTransfers.value().front();
        } else {
            record = transfer(items, location(to, QStringLiteral("/w")));
        }
        m_device->faults().clear();
        const QMap<QString, QByteArray> after = contentsOf(destination, true);
        const QMap<QString, QByteArray> sourcesAfter = contentsOf(root(from) + QStringLiteral("/s"), true);

        const QString violation = checkStep(before, after, sources, sourcesAfter, record, move);
        QVERIFY2(
            violation.isEmpty(),
            qPrintable(QStringLiteral("seed %1, step %2 (%3 %4 to %5, fault: %6, questions: %7): %8")
                           .arg(seed)
                           .arg(step)
                           .arg(move ? QStringLiteral("move") : QStringLiteral("copy"),
                                from == Side::mac ? QStringLiteral("computer") : QStringLiteral("device"),
                                to == Side::mac ? QStringLiteral("computer") : QStringLiteral("device"),
                                faultName, m_prompter->questions.join(QLatin1Char(',')), violation)));
        QVERIFY2(journal->entries().isEmpty(),
                 qPrintable(QStringLiteral("step %1 left journal entries").arg(step)));
        completed += record.state == TransferState::completed;
        failed += record.state == TransferState::failed;
        cancelled += record.state == TransferState::cancelled;
    }
    // The run must have met every ending, or it proved little.
    QVERIFY(completed > 0 && failed > 0 && cancelled > 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferSoak)
#include "tst_TransferSoak.moc"
