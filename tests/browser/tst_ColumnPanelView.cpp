// One column on its own: its key table against a window shortcut of the same key, the slow
// second click on a manual clock, the inline rename's trimming and refusals (its own and the
// provider's, logged), and the cut items dimmed in every panel that shows them.

#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "TemporaryDefaults.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/FileItemListModel.h"
#include "device/AFCBridge.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

// Records renames and refuses them when told to.
class RecordingProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    QList<QPair<URL, URL>> renames;
    bool refuse = false;

    async::Task<void> renameItem(URL at, URL to) override {
        renames.append({at, to});
        if (refuse)
            throw FileError(EACCES, QStringLiteral("rename"), at.path());
        co_return;
    }
};

FileItem fileAt(const QString& name) {
    const URL url = URL::fileURL(QStringLiteral("/data/") + name);
    return FileItem(url.absoluteString(), name, url, false, 1, Date(0), FileKind::other, std::nullopt);
}

} // namespace

class tst_ColumnPanelView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keys_data();
    void keys();
    void slowSecondClick_data();
    void slowSecondClick();
    void inlineRename_data();
    void inlineRename();
    void oneRenameAtATime();
    void cutItemsAreDimmed();

private:
    void clickRow(int row);
    void doubleClickRow(int row);
    ColumnPanelView& panel() { return *m_panel; }

    ManualUiTimerSource m_timers;
    async::ManualClock m_clock;
    std::unique_ptr<AFCBridge> m_bridge;
    std::shared_ptr<RecordingProvider> m_provider;
    std::unique_ptr<QWidget> m_window;
    ColumnPanelView* m_panel = nullptr;
    QAction* m_menuAction = nullptr;
    QStringList m_calls;
};

void tst_ColumnPanelView::init() {
    m_bridge = std::make_unique<AFCBridge>();
    m_provider = std::make_shared<RecordingProvider>(*m_bridge, m_clock);
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    m_panel = new ColumnPanelView(m_timers);
    layout->addWidget(m_panel);
    m_panel->fileSystemProvider = m_provider;
    m_panel->setItems({fileAt("a.txt"), fileAt("b.txt"), fileAt("c.txt")});
    m_calls.clear();
    ColumnTableView* table = m_panel->tableView();
    const auto record = [this](const QString& name) {
        return [this, name] {
            m_calls.append(name);
        };
    };
    table->onLeftArrow = record("left");
    table->onRightArrow = record("right");
    table->onDelete = record("delete");
    table->onRename = record("rename");
    table->onCopy = record("copy");
    table->onCut = record("cut");
    table->onPaste = record("paste");
    table->onQuickLook = record("quickLook");
    table->onStartDrag = record("drag");
    // onDuplicate stays unset: its key is swallowed all the same.
    m_menuAction = new QAction(m_window.get());
    m_window->addAction(m_menuAction);
    connect(m_menuAction, &QAction::triggered, this, [this] { m_calls.append(QStringLiteral("menu")); });
    m_window->resize(300, 400);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    table->setFocus();
}

void tst_ColumnPanelView::cleanup() {
    m_window.reset();
    m_provider.reset();
    m_bridge.reset();
}

void tst_ColumnPanelView::clickRow(int row) {
    ColumnTableView* table = panel().tableView();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(panel().model()->index(row)).center());
}

void tst_ColumnPanelView::doubleClickRow(int row) {
    ColumnTableView* table = panel().tableView();
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {},
                       table->visualRect(panel().model()->index(row)).center());
}

void tst_ColumnPanelView::keys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("menuShortcut");
    QTest::addColumn<QStringList>("calls");
    const int none = Qt::NoModifier;
    const int control = Qt::ControlModifier;
    // The window's shortcut of the same key must stay silent for every key of the column.
    QTest::newRow("left") << int(Qt::Key_Left) << none << "Left" << QStringList{"left"};
    QTest::newRow("right") << int(Qt::Key_Right) << none << "Right" << QStringList{"right"};
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << "Backspace" << QStringList{"delete"};
    QTest::newRow("delete key") << int(Qt::Key_Delete) << none << "Del" << QStringList{"delete"};
    QTest::newRow("return") << int(Qt::Key_Return) << none << "Return" << QStringList{"rename"};
    QTest::newRow("space") << int(Qt::Key_Space) << none << "Space" << QStringList{"quickLook"};
    QTest::newRow("ctrl+c") << int(Qt::Key_C) << control << "Ctrl+C" << QStringList{"copy"};
    QTest::newRow("ctrl+shift+c is c") << int(Qt::Key_C) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                       << "Ctrl+Shift+C" << QStringList{"copy"};
    QTest::newRow("ctrl+x") << int(Qt::Key_X) << control << "Ctrl+X" << QStringList{"cut"};
    QTest::newRow("ctrl+v") << int(Qt::Key_V) << control << "Ctrl+V" << QStringList{"paste"};
    QTest::newRow("ctrl+d without handler is swallowed")
        << int(Qt::Key_D) << control << "Ctrl+D" << QStringList{};
    // Keys that are not the column's reach the window's shortcut.
    QTest::newRow("ctrl+a goes to the menu") << int(Qt::Key_A) << control << "Ctrl+A" << QStringList{"menu"};
    QTest::newRow("plain c is typing") << int(Qt::Key_C) << none << "Ctrl+Return" << QStringList{};
}

void tst_ColumnPanelView::keys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, menuShortcut);
    QFETCH(QStringList, calls);
    m_menuAction->setShortcut(QKeySequence(menuShortcut));
    QVERIFY(panel().tableView()->hasFocus());
    QTest::keyClick(panel().tableView(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_calls, calls);
}

void tst_ColumnPanelView::slowSecondClick_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("renames");
    QTest::newRow("second single click on the selected row") << QStringList{"1", "1"} << true;
    QTest::newRow("double click") << QStringList{"1", "d1"} << false;
    QTest::newRow("second click on another row") << QStringList{"1", "2"} << false;
    QTest::newRow("third click after the other row") << QStringList{"1", "2", "1"} << false;
    QTest::newRow("a click after the armed one") << QStringList{"1", "1", "2"} << false;
    QTest::newRow("the selected row pressed again and dragged") << QStringList{"1", "m1"} << false;
    // A right click selects its row, but only left presses arm the rename.
    QTest::newRow("left after a right click on another row") << QStringList{"0", "r1", "1"} << false;
    QTest::newRow("left, right, left on one row") << QStringList{"1", "r1", "1"} << true;
}

void tst_ColumnPanelView::slowSecondClick() {
    QFETCH(QStringList, clicks);
    QFETCH(bool, renames);
    for (const QString& click : clicks) {
        if (click.startsWith(u'd')) {
            doubleClickRow(click.mid(1).toInt());
        } else if (click.startsWith(u'm')) {
            QWidget* viewport = panel().tableView()->viewport();
            const QPoint from =
                panel().tableView()->visualRect(panel().model()->index(click.mid(1).toInt())).center();
            const QPoint to = from + QPoint(QApplication::startDragDistance() + 1, 0);
            QTest::mousePress(viewport, Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                             {});
            QApplication::sendEvent(viewport, &move);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
        } else if (click.startsWith(u'r')) {
            ColumnTableView* table = panel().tableView();
            QTest::mouseClick(table->viewport(), Qt::RightButton, {},
                              table->visualRect(panel().model()->index(click.mid(1).toInt())).center());
        } else
            clickRow(click.toInt());
    }
    // Not before the double-click interval and its grace have passed.
    const auto delay = std::chrono::milliseconds(ColumnTableView::slowClickDelayMs());
    m_timers.advance(delay - 1ms);
    QVERIFY(!panel().renameTextField());
    m_timers.advance(1ms);
    QCOMPARE(bool(panel().renameTextField()), renames);
    QCOMPARE(m_calls.contains(QStringLiteral("drag")), clicks.last().startsWith(u'm'));
    if (renames) {
        QCOMPARE(panel().renamingItem()->name(), QStringLiteral("b.txt"));
        QCOMPARE(panel().renameTextField()->selectedText(), QStringLiteral("b.txt"));
    }
}

void tst_ColumnPanelView::inlineRename_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("endKey");
    QTest::addColumn<QString>("renamedTo");
    QTest::addColumn<bool>("refused"); // by the provider: logged, and no listing again
    // The alert of a name refused before the provider is asked: its message and reason.
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("because");
    const int ret = Qt::Key_Return;
    const QString differently = QStringLiteral(" Please choose a different name.");
    QTest::newRow("spaces and tabs trimmed")
        << " \tnew name.txt \u00a0" << ret << "new name.txt" << false << ""
        << "";
    QTest::newRow("a slash") << "a/b.txt" << ret << "" << false << "The name \"a/b.txt\" cannot be used."
                             << "A name cannot contain \"/\"." + differently;
    QTest::newRow("spaces only") << "   " << ret << "" << false << "Could not rename \"b.txt\"."
                                 << "A name cannot be empty.";
    QTest::newRow("emptied, focus leaves")
        << "" << int(Qt::Key_Tab) << "" << false << "Could not rename \"b.txt\"."
        << "A name cannot be empty.";
    QTest::newRow("unchanged") << "b.txt" << ret << "" << false << ""
                               << "";
    QTest::newRow("dot") << "." << ret << "" << false << "The name \".\" cannot be used."
                         << "\".\" and \"..\" name folders themselves." + differently;
    QTest::newRow("dot dot") << ".." << ret << "" << false << "The name \"..\" cannot be used."
                             << "\".\" and \"..\" name folders themselves." + differently;
    QTest::newRow("escape") << "other.txt" << int(Qt::Key_Escape) << "" << false << ""
                            << "";
    QTest::newRow("escape, a slash") << "a/b.txt" << int(Qt::Key_Escape) << "" << false << ""
                                     << "";
    QTest::newRow("focus leaves the field") << "moved.txt" << int(Qt::Key_Tab) << "moved.txt" << false << ""
                                            << "";
    QTest::newRow("refused by the provider") << "z.txt" << ret << "z.txt" << true << ""
                                             << "";
}

void tst_ColumnPanelView::inlineRename() {
    QFETCH(QString, typed);
    QFETCH(int, endKey);
    QFETCH(QString, renamedTo);
    QFETCH(bool, refused);
    QFETCH(QString, told);
    QFETCH(QString, because);
    m_provider->refuse = refused;
    int renamedCalls = 0;
    panel().onRenamed = [&renamedCalls](const URL&, const URL&) {
        ++renamedCalls;
    };
    auto presenter = std::make_shared<ScriptedAlertPresenter>();
    panel().alertPresenter = presenter;
    LogCapture log;
    // The keys that end the editing reach neither the list nor a window shortcut.
    m_menuAction->setShortcut(QKeySequence(Qt::Key(endKey)));
    panel().beginRename(panel().items().at(1));
    QLineEdit* field = panel().renameTextField();
    QVERIFY(field);
    QCOMPARE(field->objectName(), QStringLiteral("renameTextField"));
    field->setText(typed);
    if (endKey == Qt::Key_Tab)
        panel().tableView()->setFocus();
    else
        QTest::keyClick(field, Qt::Key(endKey));
    QVERIFY(!panel().renameTextField());
    QVERIFY(!panel().renamingItem());
    QCOMPARE(m_calls, QStringList{});
    for (const auto& task : panel().renameTasks())
        async::runSync(task.result(), 10s);
    const QStringList failures =
        log.messages(LogCapture::category("ui")).filter(QStringLiteral("Rename failed: "));
    QCOMPARE(failures.size(), refused ? 1 : 0);
    if (refused)
        QVERIFY(failures.first().contains(QStringLiteral("b.txt")));
    // A refusal is also said in an alert, with the reason, whether the name itself or the provider
    // refused it.
    QCOMPARE(presenter->requests.size(), refused || !told.isEmpty() ? 1 : 0);
    if (!told.isEmpty()) {
        QCOMPARE(presenter->requests.first().message, told);
        QCOMPARE(presenter->requests.first().informative, because);
        QCOMPARE(presenter->requests.first().buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(presenter->parents.first().data(), panel().window());
    }
    if (refused) {
        QCOMPARE(presenter->requests.first().message, QStringLiteral("Could not rename \"b.txt\"."));
        QVERIFY(presenter->requests.first().informative.contains(QStringLiteral("b.txt")));
    }
    if (renamedTo.isEmpty()) {
        QVERIFY(m_provider->renames.isEmpty());
        QCOMPARE(renamedCalls, 0);
        return;
    }
    QCOMPARE(m_provider->renames.size(), 1);
    QCOMPARE(m_provider->renames.first().first, URL::fileURL(QStringLiteral("/data/b.txt")));
    QCOMPARE(m_provider->renames.first().second, URL::fileURL(QStringLiteral("/data/") + renamedTo));
    QCOMPARE(renamedCalls, refused ? 0 : 1);
}

void tst_ColumnPanelView::oneRenameAtATime() {
    panel().beginRename(panel().items().at(0));
    QPointer<QLineEdit> first = panel().renameTextField();
    first->setText(QStringLiteral("typed but abandoned"));
    panel().beginRename(panel().items().at(2));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!first);
    QCOMPARE(panel().renamingItem()->name(), QStringLiteral("c.txt"));
    QCOMPARE(panel().tableView()->viewport()->findChildren<QLineEdit*>().size(), 1);
    // The abandoned one was cancelled, not committed.
    QVERIFY(m_provider->renames.isEmpty());
}

void tst_ColumnPanelView::cutItemsAreDimmed() {
    TemporaryDefaults defaults;
    NotificationCenter notifications;
    auto transfers = std::make_shared<TransferManager>(defaults.store(), m_clock, notifications);
    ClipboardManager clipboard(transfers, m_provider);
    // A second panel shows the same item, as two columns can.
    ColumnPanelView other(m_timers);
    other.setItems({fileAt("b.txt")});
    for (ColumnPanelView* each : {m_panel, &other}) {
        each->clipboardManager = &clipboard;
        each->observeClipboard();
    }
    const auto alphaOf = [](ColumnPanelView& panel, const QString& name) {
        for (int row = 0; row < panel.items().size(); ++row) {
            if (panel.items().at(row).name() == name)
                return panel.model()->index(row).data(FileItemListModel::AlphaRole).toDouble();
        }
        return -1.0;
    };
    clipboard.items = QList<FileItem>{fileAt("b.txt")};
    clipboard.mode = ClipboardManager::Mode::cut;
    QTRY_COMPARE(alphaOf(panel(), "b.txt"), 0.4);
    QTRY_COMPARE(alphaOf(other, "b.txt"), 0.4);
    QCOMPARE(alphaOf(panel(), "a.txt"), 1.0);
    // A reload keeps the dimming: it belongs to the item, not the row.
    panel().setItems({fileAt("0.txt"), fileAt("a.txt"), fileAt("b.txt")});
    QCOMPARE(alphaOf(panel(), "b.txt"), 0.4);
    clipboard.mode = ClipboardManager::Mode::copy;
    QTRY_COMPARE(alphaOf(panel(), "b.txt"), 1.0);
    QTRY_COMPARE(alphaOf(other, "b.txt"), 1.0);
}

QTEST_MAIN(tst_ColumnPanelView)
#include "tst_ColumnPanelView.moc"
