// The Transfer Center over made-up history entries: the cells and the buttons' states, the
// summary, the selection across reloads, what each action hands on (and to whom), Clear History.

#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "TemporaryDefaults.h"
#include "app/TransferCenterModel.h"
#include "app/TransferCenterViewController.h"
#include "app/TransferCenterWindowController.h"
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
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString unseenUdid = QStringLiteral("00008120-00AA2B3C4D5E6F71");

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
    void deviceNamesFollowTheDevices();
    void columnsFitTheWindow();
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
    QStringList m_shownInMainWindow;
    bool m_desktopOpens = true;
    Observable<QList<iOSDevice>> m_devices;
    std::shared_ptr<ScriptedAlertPresenter> m_alerts;
};

void tst_TransferCenterViewController::init() {
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_manager = std::make_shared<RecordingTransferManager>(m_defaults->store(), m_clock, m_notifications);
    m_revealed.clear();
    m_opened.clear();
    m_shownInMainWindow.clear();
    m_desktopOpens = true;
    m_devices = QList<iOSDevice>{iOSDevice(udid, udid, QStringLiteral("Demo iPhone"), QStringLiteral("iPhone 15"),
                                           QStringLiteral("iPhone15,4"), QStringLiteral("17.2"), 85, true, true)};
    m_alerts = std::make_shared<ScriptedAlertPresenter>();
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
    m_controller->revealInFileManager = [this](const URL& url, std::function<void()> failed) {
        m_revealed << url.absoluteString();
        if (!m_desktopOpens)
            failed();
    };
    m_controller->openWithDesktop = [this](const URL& url) {
        m_opened << url.absoluteString();
        return m_desktopOpens;
    };
    m_controller->showInMainWindow = [this](const URL& url) {
        m_shownInMainWindow << url.absoluteString();
    };
    m_controller->setAlertPresenter(m_alerts);
    m_controller->followDevices(m_devices);
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
    // Named by its device, as the path bar names it: a path alone reads as this computer's.
    QTest::newRow("on a device") << with([](EntryFields& s) {
        s.destination = "afc://" + udid + "/My%20Photos/";
    }) << QStringList{"report.pdf", "Completed", "Not requested", when, "Demo iPhone › My Photos"}
                                 << QList<bool>{true, true, true, true};
    QTest::newRow("in an app's container") << with([](EntryFields& s) {
        s.destination = "afc://" + udid + "/.app/com.example.notes/Documents/";
    }) << QStringList{"report.pdf", "Completed", "Not requested", when,
                      "Demo iPhone › com.example.notes › Documents"}
                                           << QList<bool>{true, true, true, true};
    QTest::newRow("on a device never seen") << with([](EntryFields& s) {
        s.destination = "afc://" + unseenUdid + "/";
    }) << QStringList{"report.pdf", "Completed", "Not requested", when, "Device"}
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
    QTest::addColumn<bool>("desktopOpens");
    QTest::addColumn<QStringList>("revealed");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QStringList>("shown"); // in the main window
    QTest::addColumn<QStringList>("alerts");
    const QString report = QStringLiteral("file:///home/someone/r.txt");
    const QString downloads = QStringLiteral("file:///home/someone/Downloads/");
    const QString notShown = QStringLiteral("The destination could not be shown.");
    QTest::newRow("on this computer") << downloads << report << true << QStringList{downloads}
                                      << QStringList{report} << QStringList() << QStringList();
    QTest::newRow("on a connected device")
        << "afc://" + udid + "/Downloads/" << report << true << QStringList() << QStringList{report}
        << QStringList{"afc://" + udid + "/Downloads/"} << QStringList();
    QTest::newRow("on a device not connected")
        << "afc://" + unseenUdid + "/Downloads/" << report << true << QStringList() << QStringList{report}
        << QStringList() << QStringList{notShown};
    QTest::newRow("nothing on this computer opens them")
        << downloads << report << false << QStringList{downloads} << QStringList{report} << QStringList()
        << QStringList{notShown, QStringLiteral("The report could not be opened.")};
    QTest::newRow("neither a URL") << "Downloads"
                                   << "r.txt" << true << QStringList() << QStringList() << QStringList()
                                   << QStringList();
}

// Each action reaches what can do it, and says so when nothing could.
void tst_TransferCenterViewController::actionsHandOnTheSelectedEntry() {
    QFETCH(QString, destination);
    QFETCH(QString, report);
    QFETCH(bool, desktopOpens);
    QFETCH(QStringList, revealed);
    QFETCH(QStringList, opened);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, alerts);
    EntryFields fields;
    fields.destination = destination;
    fields.report = report;
    show({makeEntry(fields)});
    m_desktopOpens = desktopOpens;
    // Without a selection the actions do nothing.
    m_controller->revealSelection();
    m_controller->openReport();
    QVERIFY(m_revealed.isEmpty() && m_opened.isEmpty());

    select(0);
    const int beepsBefore = Beep::count();
    m_controller->revealButton()->click();
    m_controller->reportButton()->click();
    QCOMPARE(m_revealed, revealed);
    QCOMPARE(m_opened, opened);
    QCOMPARE(m_shownInMainWindow, shown);
    QStringList asked;
    for (const AlertRequest& request : std::as_const(m_alerts->requests)) {
        asked << request.message;
        QCOMPARE(request.buttons, QStringList{QStringLiteral("OK")});
    }
    QCOMPARE(asked, alerts);
    for (const QPointer<QWidget>& parent : std::as_const(m_alerts->parents))
        QCOMPARE(parent.data(), m_controller->window());
    QCOMPARE(Beep::count(), beepsBefore);
}

// A device destination is named by its device, whose name stays known after it has gone.
void tst_TransferCenterViewController::deviceNamesFollowTheDevices() {
    EntryFields fields;
    fields.destination = "afc://" + unseenUdid + "/Books/";
    show({makeEntry(fields)});
    const QModelIndex cell = m_controller->model()->index(0, TransferCenterModel::destination);
    QCOMPARE(cell.data().toString(), QStringLiteral("Device › Books"));
    m_devices = QList<iOSDevice>{iOSDevice(unseenUdid, unseenUdid, QString(), QStringLiteral("iPad Air"),
                                           QStringLiteral("iPad13,16"), QStringLiteral("17.2"), 50, true, true)};
    deliver();
    QCOMPARE(cell.data().toString(), QStringLiteral("iPad Air › Books"));
    m_devices = QList<iOSDevice>{};
    deliver();
    QCOMPARE(cell.data().toString(), QStringLiteral("iPad Air › Books"));
    // Gone, it can no longer be shown: the alert names it.
    select(0);
    m_controller->revealButton()->click();
    QVERIFY(m_shownInMainWindow.isEmpty());
    QCOMPARE(m_alerts->requests.size(), 1);
    QCOMPARE(m_alerts->requests.first().informative,
             QStringLiteral("“iPad Air” is not connected. Connect it and try again."));
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

// At the window's 900 x 420 the five columns fit the table: nothing scrolls sideways, and the
// destination keeps a readable width.
void tst_TransferCenterViewController::columnsFitTheWindow() {
    QList<TransferHistoryEntry> history;
    for (int i = 0; i < 30; ++i)
        history.append(makeEntry());
    TransferCenterWindowController window(m_manager);
    m_manager->transferHistory = history;
    window.showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window.window()));
    QCOMPARE(window.window()->size(), QSize(900, 420));
    QTableView* table = window.viewController()->tableView();
    QTRY_COMPARE(table->model()->rowCount(), 30);
    QVERIFY(table->verticalScrollBar()->isVisible());
    QTRY_COMPARE(table->horizontalScrollBar()->maximum(), 0);
    const auto& columns = TransferCenterModel::columns();
    for (int column = 0; column + 1 < columns.size(); ++column)
        QCOMPARE(table->columnWidth(column), columns.at(column).width);
    QVERIFY(table->columnWidth(TransferCenterModel::destination) >= 200);
}

QTEST_MAIN(tst_TransferCenterViewController)
#include "tst_TransferCenterViewController.moc"
