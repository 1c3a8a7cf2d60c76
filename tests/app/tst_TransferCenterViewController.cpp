// The Transfer Center over made-up history entries: the cells and the buttons' states, the
// summary, the selection across reloads, what each action hands on (and to whom), Clear History.

#include "LogCapture.h"
#include "TemporaryDefaults.h"
#include "app/TransferCenterModel.h"
#include "app/TransferCenterViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "transfer/TransferManager.h"
#include "uikit/Beep.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

struct EntryFields {
    QStringList sourceNames{"report.pdf"};
    QString destination = QStringLiteral("file:///home/someone/Downloads/");
    TransferState state = TransferState::completed;
    std::optional<QDateTime> completedAt = QDateTime(QDate(2026, 5, 3), QTime(14, 5));
    std::optional<QString> report = QStringLiteral("file:///home/someone/.local/share/Orvanta/r.txt");
    qint64 mismatches = 0;
};

TransferHistoryEntry makeEntry(const EntryFields& fields = {}) {
    QList<TransferHistorySource> sources;
    for (const QString& name : fields.sourceNames)
        sources.append(TransferHistorySource(QStringLiteral("afc://%1/DCIM/%2").arg(udid, name), name, false,
                                             1000, Date(0), QStringLiteral("image"), std::nullopt));
    TransferVerificationSummary verification;
    verification.requested = fields.mismatches > 0;
    verification.mismatchedFiles = fields.mismatches;
    std::optional<Date> completed;
    if (fields.completedAt)
        completed = Date::fromQDateTime(*fields.completedAt);
    return TransferHistoryEntry(QUuid::createUuid(), sources, fields.destination, fields.state, Date(0),
                                completed, 0, 0, sources.size(), QString(), std::nullopt, fields.report,
                                verification);
}

// Notes each retry instead of copying anything.
class RecordingTransferManager : public TransferManager {
public:
    using TransferManager::TransferManager;
    QList<TransferHistoryEntry> retried;
    async::Task<void> retryTransfer(TransferHistoryEntry entry) override {
        retried.append(entry);
        co_return;
    }
};

void deliver() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

Q_DECLARE_METATYPE(EntryFields)

class tst_TransferCenterViewController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Beep::setSoundForTesting(nullptr); }
    void init();
    void cleanup();

    void cellsAndButtons_data();
    void cellsAndButtons();
    void selectionSurvivesReloads();
    void actionsHandOnTheSelectedEntry_data();
    void actionsHandOnTheSelectedEntry();
    void retryPassesAnEqualEntry();
    void clearHistoryRemovesTheStoredHistoryOnly();

private:
    void show(const QList<TransferHistoryEntry>& history);
    void select(int row) { m_controller->tableView()->selectRow(row); }
    QList<bool> buttonStates() const;

    std::unique_ptr<TemporaryDefaults> m_defaults;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::shared_ptr<RecordingTransferManager> m_manager;
    std::unique_ptr<TransferCenterViewController> m_controller;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QStringList m_revealed;
    QStringList m_opened;
};

void tst_TransferCenterViewController::init() {
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_manager = std::make_shared<RecordingTransferManager>(m_defaults->store(), m_clock, m_notifications);
    m_revealed.clear();
    m_opened.clear();
}

void tst_TransferCenterViewController::cleanup() {
    m_tester.reset();
    m_controller.reset();
    m_manager.reset();
    m_defaults.reset();
}

void tst_TransferCenterViewController::show(const QList<TransferHistoryEntry>& history) {
    m_manager->transferHistory = history;
    m_controller = std::make_unique<TransferCenterViewController>(m_manager);
    m_tester = std::make_unique<QAbstractItemModelTester>(m_controller->model());
    m_controller->revealInFileManager = [this](const URL& url) {
        m_revealed << url.absoluteString();
    };
    m_controller->openWithDesktop = [this](const URL& url) {
        m_opened << url.absoluteString();
    };
    deliver();
}

// Reveal Destination, Retry, Open Report, Clear History.
QList<bool> tst_TransferCenterViewController::buttonStates() const {
    return {m_controller->revealButton()->isEnabled(), m_controller->retryButton()->isEnabled(),
            m_controller->reportButton()->isEnabled(), m_controller->clearButton()->isEnabled()};
}

void tst_TransferCenterViewController::cellsAndButtons_data() {
    QTest::addColumn<EntryFields>("fields");
    QTest::addColumn<QStringList>("cells");
    // With the row selected.
    QTest::addColumn<QList<bool>>("enabled");
    const QString when = "5/3/26, 2:05" + QString(QChar(0x202F)) + "PM";
    const QString downloads = QStringLiteral("/home/someone/Downloads");
    const auto with = [](auto change) {
        EntryFields fields;
        change(fields);
        return fields;
    };
    QTest::newRow("one source") << EntryFields{}
                                << QStringList{"report.pdf", "Completed", "Not requested", when, downloads}
                                << QList<bool>{true, true, true, true};
    QTest::newRow("three sources, no report") << with([](EntryFields& s) {
        s.sourceNames = {"a.jpg", "b.jpg", "c.mov"};
        s.report.reset();
    }) << QStringList{"3 items", "Completed", "Not requested", when, downloads}
                                              << QList<bool>{true, true, false, true};
    QTest::newRow("not finished, a mismatch") << with([](EntryFields& s) {
        s.completedAt.reset();
        s.state = TransferState::failed;
        s.mismatches = 1;
    }) << QStringList{"report.pdf", "Failed", "1 mismatch", "In progress", downloads}
                                              << QList<bool>{true, true, true, true};
    QTest::newRow("destination not a URL")
        << with([](EntryFields& s) { s.destination = "Downloads"; })
        << QStringList{"report.pdf", "Completed", "Not requested", when, "—"}
        << QList<bool>{false, true, true, true};
    // Revealing it only beeps, but the button stays as it always was.
    QTest::newRow("on a device") << with([](EntryFields& s) {
        s.destination = "afc://" + udid + "/My%20Photos/";
    }) << QStringList{"report.pdf", "Completed", "Not requested", when, "/My Photos"}
                                 << QList<bool>{true, true, true, true};
}

void tst_TransferCenterViewController::cellsAndButtons() {
    QFETCH(EntryFields, fields);
    QFETCH(QStringList, cells);
    QFETCH(QList<bool>, enabled);
    show({makeEntry(fields)});
    const TransferCenterModel* model = m_controller->model();
    QStringList shown;
    for (int column = 0; column < model->columnCount(); ++column)
        shown << model->data(model->index(0, column)).toString();
    QCOMPARE(shown, cells);
    QCOMPARE(m_controller->summaryLabel()->text(), QStringLiteral("1 transfer saved"));
    QCOMPARE(buttonStates(), (QList<bool>{false, false, false, true}));
    select(0);
    QCOMPARE(buttonStates(), enabled);
}

void tst_TransferCenterViewController::selectionSurvivesReloads() {
    EntryFields withoutReport;
    withoutReport.report.reset();
    const TransferHistoryEntry older = makeEntry();
    const TransferHistoryEntry newer = makeEntry(withoutReport);
    show({older});
    select(0);

    // A transfer finishes: the new entry goes on top, the selected one moves down and stays.
    m_manager->transferHistory = QList<TransferHistoryEntry>{newer, older};
    deliver();
    QVERIFY(m_controller->selectedEntry());
    QCOMPARE(m_controller->selectedEntry()->id(), older.id());
    QCOMPARE(m_controller->tableView()->selectionModel()->selectedRows().first().row(), 1);
    QCOMPARE(m_controller->summaryLabel()->text(), QStringLiteral("2 transfers saved"));
    QCOMPARE(buttonStates(), (QList<bool>{true, true, true, true}));

    // The selected entry leaves the history: nothing is selected, not whatever took its row.
    m_manager->transferHistory = QList<TransferHistoryEntry>{newer};
    deliver();
    QVERIFY(!m_controller->selectedEntry());
    QCOMPARE(buttonStates(), (QList<bool>{false, false, false, true}));
}

void tst_TransferCenterViewController::actionsHandOnTheSelectedEntry_data() {
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QStringList>("revealed");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<int>("beeps");
    const QString report = QStringLiteral("file:///home/someone/r.txt");
    QTest::newRow("on this computer")
        << "file:///home/someone/Downloads/" << report << QStringList{"file:///home/someone/Downloads/"}
        << QStringList{report} << 0;
    QTest::newRow("on a device") << "afc://" + udid + "/Downloads/" << report << QStringList{}
                                 << QStringList{report} << 1;
    QTest::newRow("neither a URL") << "Downloads"
                                   << "r.txt" << QStringList{} << QStringList{} << 0;
}

void tst_TransferCenterViewController::actionsHandOnTheSelectedEntry() {
    QFETCH(QString, destination);
    QFETCH(QString, report);
    QFETCH(QStringList, revealed);
    QFETCH(QStringList, opened);
    QFETCH(int, beeps);
    EntryFields fields;
    fields.destination = destination;
    fields.report = report;
    show({makeEntry(fields)});
    // Without a selection the actions do nothing.
    m_controller->revealSelection();
    m_controller->openReport();
    QVERIFY(m_revealed.isEmpty() && m_opened.isEmpty());

    select(0);
    LogCapture logs;
    const int beepsBefore = Beep::count();
    m_controller->revealButton()->click();
    m_controller->reportButton()->click();
    QCOMPARE(m_revealed, revealed);
    QCOMPARE(m_opened, opened);
    QCOMPARE(Beep::count() - beepsBefore, beeps);
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("ui"))).size(), beeps);
}

void tst_TransferCenterViewController::retryPassesAnEqualEntry() {
    EntryFields fields;
    fields.sourceNames = {"a.jpg", "b.jpg"};
    const TransferHistoryEntry second = makeEntry(fields);
    show({makeEntry(fields), second});
    m_controller->retrySelection();
    QVERIFY(m_controller->retryTasks().isEmpty());

    select(1);
    m_controller->retryButton()->click();
    QCOMPARE(m_controller->retryTasks().size(), 1);
    async::runSync(m_controller->retryTasks().first().result(), 5s);
    QCOMPARE(m_manager->retried, QList<TransferHistoryEntry>{second});
    QCOMPARE(m_manager->transferHistory.value().size(), 2);
}

void tst_TransferCenterViewController::clearHistoryRemovesTheStoredHistoryOnly() {
    QTemporaryDir reports;
    const QString reportPath = reports.filePath(QStringLiteral("transfer.txt"));
    QFile file(reportPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    EntryFields fields;
    fields.report = URL::fileURL(reportPath).absoluteString();
    m_manager->transferHistory = QList<TransferHistoryEntry>{makeEntry(fields), makeEntry(fields)};
    m_manager->saveHistory();
    QVERIFY(m_defaults->store().keys().contains(QString(TransferManager::historyDefaultsKey)));
    show(m_manager->transferHistory.value());
    select(0);

    m_controller->clearButton()->click();
    deliver();
    QCOMPARE(m_controller->model()->rowCount(), 0);
    QCOMPARE(m_controller->summaryLabel()->text(), QStringLiteral("No transfer history yet"));
    QCOMPARE(buttonStates(), (QList<bool>{false, false, false, false}));
    // The next launch starts empty too, and the reports themselves stay.
    QVERIFY(!m_defaults->reopen().keys().contains(QString(TransferManager::historyDefaultsKey)));
    QVERIFY(QFile::exists(reportPath));
}

QTEST_MAIN(tst_TransferCenterViewController)
#include "tst_TransferCenterViewController.moc"
