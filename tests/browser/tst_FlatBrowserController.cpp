// What the icon and the list browser share, run against both over a temporary folder tree: the
// search filter, the delete and rename questions and their failures, load failures and their
// recovery, stale listings, keys, double clicks, the context menu's selection and drops.

#include "DeviceTestCase.h"
#include "FlatBrowserTestBed.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileContextMenu.h"
#include "browser/OrvantaDragMimeData.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>

using Kind = FlatBrowserTestBed::Kind;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

FileItem deviceItem(const QString& name) {
    const URL url = *URL::fromString(QStringLiteral("afc://%1/DCIM/%2").arg(udid, name));
    return FileItem(url.absoluteString(), name, url, false, 1, Date::now(), FileKind::image, std::nullopt);
}

} // namespace

class tst_FlatBrowserController : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchFilter_data();
    void searchFilter();
    void deleteQuestion_data();
    void deleteQuestion();
    void failedDeleteDoesNotStopTheOthersAndIsTold();
    void rename_data();
    void rename();
    void refusedNameSaysWhy_data();
    void refusedNameSaysWhy();
    void loadFailureAndRecovery_data();
    void loadFailureAndRecovery();
    void bigSelectionStaysOneRangeAndGoesInOneStep_data();
    void bigSelectionStaysOneRangeAndGoesInOneStep();
    void staleListingIsDropped_data();
    void staleListingIsDropped();
    void keys_data();
    void keys();
    void doubleClick_data();
    void doubleClick();
    void contextClickSelection_data();
    void contextClickSelection();
    void drops_data();
    void drops();
    void dropHighlight_data();
    void dropHighlight();

private:
    URL folderURL(const QString& relative = QString()) const;
    QPoint centreOf(const QString& name) const;
    void select(const QStringList& names);

    QTemporaryDir m_home;
    QString m_root;
    std::unique_ptr<FlatBrowserTestBed> m_bed;
};

void tst_FlatBrowserController::initTestCase() {
    // Deleted computer files go to this trash, never the developer's.
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("data"))));
}

void tst_FlatBrowserController::init() {
    setUpTest();
    m_root = scratchPath(QStringLiteral("tree"));
    for (const char* file :
         {"Folder/inner.txt", "file2.txt", "file10.txt", "img_1.jpg", "Notes.TXT", "Other/o.txt"})
        QVERIFY(writeTestFile(m_root + u'/' + file, "xx"));
    m_bed = std::make_unique<FlatBrowserTestBed>();
}

void tst_FlatBrowserController::cleanup() {
    m_bed.reset();
    tearDownTest();
}

URL tst_FlatBrowserController::folderURL(const QString& relative) const {
    return URL::fileURL(relative.isEmpty() ? m_root : m_root + u'/' + relative, true);
}

QPoint tst_FlatBrowserController::centreOf(const QString& name) const {
    QAbstractItemView* view = m_bed->browser->itemView();
    return view->visualRect(view->model()->index(m_bed->rowOf(name), 0)).center();
}

void tst_FlatBrowserController::select(const QStringList& names) {
    QAbstractItemView* view = m_bed->browser->itemView();
    view->clearSelection();
    for (const QString& name : names)
        view->selectionModel()->select(view->model()->index(m_bed->rowOf(name), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void tst_FlatBrowserController::searchFilter_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("shown");
    const QStringList all{"Folder", "Other", "file2.txt", "file10.txt", "img_1.jpg", "Notes.TXT"};
    QTest::newRow("only blanks") << "   " << all;
    QTest::newRow("case is ignored") << "JPG" << QStringList{"img_1.jpg"};
    QTest::newRow("tabs and blanks around") << " \tfile1\t " << QStringList{"file10.txt"};
    QTest::newRow("a no-break space around")
        << "\u00a0txt\u00a0" << QStringList{"file2.txt", "file10.txt", "Notes.TXT"};
    QTest::newRow("a line feed is not trimmed") << "txt\n" << QStringList{};
    QTest::newRow("only the name is searched") << "tree" << QStringList{};
}

void tst_FlatBrowserController::searchFilter() {
    QFETCH(QString, query);
    QFETCH(QStringList, shown);
    m_bed->make(Kind::list);
    m_bed->open(folderURL());
    select({QStringLiteral("img_1.jpg")});
    m_bed->navigation->searchQuery = query;
    QTRY_COMPARE(m_bed->shownNames(), shown);
    // The window counts the whole listing; the selection is what is still shown.
    QCOMPARE(m_bed->navigation->currentDirectoryContents.value().size(), 6);
    QCOMPARE(m_bed->navigation->selectedItems.value().size(),
             shown.contains(QStringLiteral("img_1.jpg")) ? 1 : 0);
    QCOMPARE(namesOf(m_bed->browser->selectedItems()).size(),
             shown.contains(QStringLiteral("img_1.jpg")) ? 1 : 0);
}

void tst_FlatBrowserController::deleteQuestion_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<QString>("message");
    QTest::newRow("one device item") << QStringList{"a"} << true << "Delete \"a\"?";
    QTest::newRow("three device items") << QStringList{"a", "b", "c"} << true << "Delete \"a, b, c\"?";
    QTest::newRow("four device items")
        << QStringList{"a", "b", "c", "d"} << true << "Delete \"a, b, c and 1 more\"?";
    QTest::newRow("computer items ask nothing") << QStringList{"file2.txt", "img_1.jpg"} << false << "";
}

void tst_FlatBrowserController::deleteQuestion() {
    QFETCH(QStringList, names);
    QFETCH(bool, onDevice);
    QFETCH(QString, message);
    FlatBrowserController& browser = m_bed->make(Kind::icon);
    m_bed->open(folderURL());
    QList<FileItem> items;
    for (const QString& name : names) {
        if (onDevice)
            items.append(deviceItem(name));
        else
            items.append(m_bed->browser->displayedItems().at(m_bed->rowOf(name)));
    }
    // Cancel: nothing may go.
    m_bed->presenter->next.code = AlertResponse::firstButton + 1;
    browser.confirmAndDelete(items);
    m_bed->settle();
    QCOMPARE(m_bed->presenter->requests.size(), onDevice ? 1 : 0);
    if (onDevice) {
        const AlertRequest& question = m_bed->presenter->requests.first();
        QCOMPARE(question.message, message);
        QCOMPARE(question.informative,
                 QStringLiteral("This will permanently delete the selected item(s) from your device."));
        QCOMPARE(question.buttons, (QStringList{"Delete", "Cancel"}));
        QCOMPARE(question.style, AlertRequest::Style::warning);
        QVERIFY(m_bed->provider->deleted.isEmpty());
    } else {
        QCOMPARE(m_bed->provider->deleted, names);
        for (const QString& name : names)
            QVERIFY(!m_bed->shownNames().contains(name));
    }
}

void tst_FlatBrowserController::failedDeleteDoesNotStopTheOthersAndIsTold() {
    FlatBrowserController& browser = m_bed->make(Kind::list);
    m_bed->open(folderURL());
    m_bed->provider->refusedDeletes.insert(QStringLiteral("file10.txt"));
    select({QStringLiteral("file2.txt"), QStringLiteral("file10.txt"), QStringLiteral("img_1.jpg")});
    LogCapture log;
    browser.deleteSelection();
    m_bed->settle();
    QCOMPARE(m_bed->provider->deleted, (QStringList{"file2.txt", "img_1.jpg"}));
    // The item stays on screen, and the user is told why, as the column browser tells it.
    QCOMPARE(m_bed->presenter->requests.size(), 1);
    QCOMPARE(m_bed->presenter->requests.first().message, QStringLiteral("Could not delete \"file10.txt\""));
    QCOMPARE(m_bed->presenter->requests.first().informative, QStringLiteral("file10.txt"));
    QCOMPARE(log.messages(LogCapture::category("ui"))
                 .filter(QStringLiteral("Delete failed for file10.txt: "))
                 .size(),
             1);
    QCOMPARE(m_bed->shownNames(), (QStringList{"Folder", "Other", "file10.txt", "Notes.TXT"}));
}

void tst_FlatBrowserController::rename_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("told"); // the alert of a name refused before the provider is asked
    const QStringList one{"img_1.jpg"};
    QTest::newRow("a new name") << one << 0 << "photo.jpg"
                                << "photo.jpg"
                                << "";
    QTest::newRow("blanks and a line feed around") << one << 0 << "  photo.jpg \n"
                                                   << "photo.jpg"
                                                   << "";
    QTest::newRow("only blanks") << one << 0 << "  \t"
                                 << "img_1.jpg"
                                 << "Could not rename \"img_1.jpg\".";
    QTest::newRow("the same name") << one << 0 << "img_1.jpg"
                                   << "img_1.jpg"
                                   << "";
    QTest::newRow("a slash") << one << 0 << "a/b.jpg"
                             << "img_1.jpg"
                             << "The name \"a/b.jpg\" cannot be used.";
    QTest::newRow("the parent folder") << one << 0 << ".."
                                       << "img_1.jpg"
                                       << "The name \"..\" cannot be used.";
    QTest::newRow("cancelled") << one << 1 << "photo.jpg"
                               << "img_1.jpg"
                               << "";
    QTest::newRow("cancelled, a slash") << one << 1 << "a/b.jpg"
                                        << "img_1.jpg"
                                        << "";
    QTest::newRow("refused by the provider: logged") << one << 0 << "refused.jpg"
                                                     << "img_1.jpg"
                                                     << "";
    QTest::newRow("a name already taken") << one << 0 << "file2.txt"
                                          << "img_1.jpg"
                                          << "";
    QTest::newRow("two selected: no alert") << QStringList{"file2.txt", "img_1.jpg"} << 0 << "x"
                                            << "img_1.jpg"
                                            << "";
}

void tst_FlatBrowserController::rename() {
    QFETCH(QStringList, selected);
    QFETCH(int, button);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(QString, told);
    FlatBrowserController& browser = m_bed->make(Kind::icon);
    m_bed->open(folderURL());
    select(selected);
    m_bed->provider->refuseRenames = typed == u"refused.jpg";
    m_bed->presenter->next.code = AlertResponse::firstButton + button;
    m_bed->presenter->next.text = typed;
    LogCapture log;
    browser.renameSelection();
    m_bed->settle();
    QVERIFY(QFile::exists(m_root + u'/' + result));
    QVERIFY(m_bed->shownNames().contains(result));
    QCOMPARE(m_bed->shownNames().size(), 6);
    const bool taken = typed == u"file2.txt";
    const bool failed = m_bed->provider->refuseRenames || taken;
    QCOMPARE(log.messages(LogCapture::category("ui")).filter(QStringLiteral("Rename failed: ")).size(),
             failed ? 1 : 0);
    // A rename that failed, or a name refused before anything was tried, says why in an alert of
    // its own after the question.
    QCOMPARE(m_bed->presenter->requests.size(),
             selected.size() == 1 ? (failed || !told.isEmpty() ? 2 : 1) : 0);
    if (selected.size() != 1)
        return;
    if (!told.isEmpty()) {
        QCOMPARE(m_bed->presenter->requests.at(1).message, told);
        QCOMPARE(m_bed->presenter->requests.at(1).buttons, QStringList{QStringLiteral("OK")});
        QVERIFY(!m_bed->presenter->requests.at(1).informative.isEmpty());
    }
    if (failed) {
        const AlertRequest& why = m_bed->presenter->requests.at(1);
        QCOMPARE(why.buttons, QStringList{QStringLiteral("OK")});
        if (taken) {
            QCOMPARE(why.message, QStringLiteral("The name \"file2.txt\" is already taken."));
            QCOMPARE(why.informative, QStringLiteral("Please choose a different name."));
        } else {
            QCOMPARE(why.message, QStringLiteral("Could not rename \"img_1.jpg\"."));
            QVERIFY(!why.informative.isEmpty());
        }
    }
    const AlertRequest& alert = m_bed->presenter->requests.first();
    QCOMPARE(alert.message, QStringLiteral("Rename"));
    QCOMPARE(alert.informative, QStringLiteral("Enter a new name for \"img_1.jpg\"."));
    QCOMPARE(alert.buttons, (QStringList{"Rename", "Cancel"}));
    QVERIFY(alert.textField);
    QCOMPARE(alert.textField->initialText, QStringLiteral("img_1.jpg"));
}

void tst_FlatBrowserController::refusedNameSaysWhy_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("because");
    addViewRows("a slash", [](QTestData& row) {
        row << "a/b.jpg"
            << "The name \"a/b.jpg\" cannot be used."
            << "A name cannot contain \"/\". Please choose a different name.";
    });
    addViewRows("emptied", [](QTestData& row) {
        row << ""
            << "Could not rename \"img_1.jpg\"."
            << "A name cannot be empty.";
    });
}

// A name no item can bear is refused with its reason in both views, and the old name stays.
void tst_FlatBrowserController::refusedNameSaysWhy() {
    QFETCH(Kind, kind);
    QFETCH(QString, typed);
    QFETCH(QString, told);
    QFETCH(QString, because);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    select({"img_1.jpg"});
    m_bed->presenter->next.text = typed;
    browser.renameSelection();
    m_bed->settle();
    QCOMPARE(m_bed->presenter->requests.size(), 2);
    const AlertRequest& why = m_bed->presenter->requests.at(1);
    QCOMPARE(why.message, told);
    QCOMPARE(why.informative, because);
    QCOMPARE(m_bed->presenter->parents.at(1).data(), browser.window());
    QVERIFY(m_bed->shownNames().contains(QStringLiteral("img_1.jpg")));
}

void tst_FlatBrowserController::loadFailureAndRecovery_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("logged");
    QTest::newRow("list") << Kind::list << "List view load failed: ";
    QTest::newRow("icon") << Kind::icon << "Icon view load failed: ";
}

void tst_FlatBrowserController::loadFailureAndRecovery() {
    QFETCH(Kind, kind);
    QFETCH(QString, logged);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    const QList<FileItem> before = m_bed->navigation->currentDirectoryContents.value();
    QCOMPARE(before.size(), 6);
    m_bed->provider->failing.insert(folderURL(QStringLiteral("Folder")).absoluteString());
    LogCapture log;
    m_bed->open(folderURL(QStringLiteral("Folder")));
    QVERIFY(browser.errorPlaceholder());
    QCOMPARE(browser.errorPlaceholder()->symbolName(), QStringLiteral("exclamationmark.triangle"));
    QVERIFY(browser.displayedItems().isEmpty());
    QVERIFY(browser.allItems().isEmpty());
    QCOMPARE(log.messages(LogCapture::category("filesystem")).filter(logged).size(), 1);
    // What the placeholder stands over is neither counted nor selectable, as in the columns: the
    // folder left behind must not stay in the status bar.
    QVERIFY(m_bed->navigation->currentDirectoryContents.value().isEmpty());
    browser.selectAllItems();
    QVERIFY(m_bed->navigation->selectedItems.value().isEmpty());
    QVERIFY(!browser.hasSelection());

    // A change notification lists the folder again; now it can be read.
    m_bed->provider->failing.clear();
    NotificationCenter::defaultCenter().post(Notification{TransferManager::afcFilesUploaded, {}});
    m_bed->settle();
    QVERIFY(!browser.errorPlaceholder());
    QCOMPARE(m_bed->shownNames(), QStringList{"inner.txt"});
    QCOMPARE(m_bed->navigation->currentDirectoryContents.value().size(), 1);
}

void tst_FlatBrowserController::bigSelectionStaysOneRangeAndGoesInOneStep_data() {
    QTest::addColumn<Kind>("kind");
    QTest::newRow("list") << Kind::list;
    QTest::newRow("icon") << Kind::icon;
}

// Select All of a camera roll, then a click on another place: the search field is emptied (which
// filters the same rows again) and the folder is left. The selection stays one range throughout,
// and the browser publishes its end once.
void tst_FlatBrowserController::bigSelectionStaysOneRangeAndGoesInOneStep() {
    QFETCH(Kind, kind);
    constexpr int count = 10000;
    const QString roll = m_root + QStringLiteral("/Roll");
    QVERIFY(QDir().mkpath(roll));
    for (int index = 0; index < count; ++index) {
        QFile file(roll + QStringLiteral("/IMG_%1.JPG").arg(index, 5, 10, QLatin1Char('0')));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL(QStringLiteral("Roll")));
    QCOMPARE(browser.displayedItems().size(), count);
    QList<qsizetype> selecting;
    {
        const Subscription counting = m_bed->navigation->selectedItems.subscribe(
            [&selecting](const QSet<FileItem>& items) { selecting.append(items.size()); });
        browser.selectAllItems();
    }
    // The current (empty) one at subscription, then the whole folder once: a second set of every
    // item would double what the key costs.
    QCOMPARE(selecting, (QList<qsizetype>{0, count}));
    QItemSelectionModel* selection = browser.itemView()->selectionModel();
    QCOMPARE(m_bed->navigation->selectedItems.value().size(), count);

    m_bed->navigation->searchQuery = QString();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(selection->selection().size(), 1);
    QCOMPARE(browser.selectedItems().size(), count);

    QList<qsizetype> published;
    const Subscription watch = m_bed->navigation->selectedItems.subscribe(
        [&published](const QSet<FileItem>& items) { published.append(items.size()); });
    m_bed->open(folderURL(QStringLiteral("Other")));
    QCOMPARE(m_bed->shownNames(), QStringList{"o.txt"});
    QVERIFY(selection->selection().isEmpty());
    // The current one at subscription, then the navigation's and the browser's own: each empty.
    QVERIFY(published.size() <= 3);
    QVERIFY(std::all_of(published.begin() + 1, published.end(), [](qsizetype size) { return size == 0; }));
    // Exactly so: the whole selection until then, and the end of it no more than those two times.
    QCOMPARE(published, (QList<qsizetype>{count, 0, 0}));
}

void tst_FlatBrowserController::staleListingIsDropped_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("lateOneFails");
    QTest::newRow("list, late failure") << Kind::list << true;
    QTest::newRow("icon, late success") << Kind::icon << false;
}

void tst_FlatBrowserController::staleListingIsDropped() {
    QFETCH(Kind, kind);
    QFETCH(bool, lateOneFails);
    FlatBrowserController& browser = m_bed->make(kind);
    const URL first = folderURL(QStringLiteral("Folder"));
    const URL second = folderURL(QStringLiteral("Other"));
    m_bed->provider->held.insert(first.absoluteString());
    if (lateOneFails)
        m_bed->provider->failing.insert(first.absoluteString());
    m_bed->navigation->navigate(first);
    QTRY_VERIFY(m_bed->provider->isWaiting(first));
    m_bed->navigation->navigate(second);
    QTRY_COMPARE(m_bed->shownNames(), QStringList{"o.txt"});
    m_bed->provider->release(first);
    m_bed->settle();
    QCOMPARE(m_bed->shownNames(), QStringList{"o.txt"});
    QVERIFY(!browser.errorPlaceholder());
    QCOMPARE(namesOf(m_bed->navigation->currentDirectoryContents.value()), QStringList{"o.txt"});
    // Paste goes where the user looks.
    QCOMPARE(browser.currentDirectoryURL(), second);
}

void tst_FlatBrowserController::keys_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    // What happened: "copy", "cut", "rename", "quicklook", "delete", "duplicate" or "" for nothing.
    QTest::addColumn<QString>("effect");
    const auto rows = [](const char* name, int key, int modifiers, const char* effect) {
        addViewRows(name, [&](QTestData& row) { row << key << modifiers << QString::fromLatin1(effect); });
    };
    rows("Ctrl+C copies", Qt::Key_C, Qt::ControlModifier, "copy");
    rows("Ctrl+Shift+C copies", Qt::Key_C, int(Qt::ControlModifier | Qt::ShiftModifier), "copy");
    rows("C alone is the view's", Qt::Key_C, Qt::NoModifier, "");
    rows("Ctrl+X cuts", Qt::Key_X, Qt::ControlModifier, "cut");
    rows("Return renames", Qt::Key_Return, Qt::NoModifier, "rename");
    rows("Shift+Return renames", Qt::Key_Return, Qt::ShiftModifier, "rename");
    rows("Space previews", Qt::Key_Space, Qt::NoModifier, "quicklook");
    rows("Ctrl+Backspace deletes", Qt::Key_Backspace, Qt::ControlModifier, "delete");
    rows("Delete deletes", Qt::Key_Delete, Qt::NoModifier, "delete");
    rows("Ctrl+D duplicates", Qt::Key_D, Qt::ControlModifier, "duplicate");
    rows("D alone is the view's", Qt::Key_D, Qt::NoModifier, "");
}

void tst_FlatBrowserController::keys() {
    QFETCH(Kind, kind);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);
    FlatBrowserController& browser = m_bed->make(kind);
    int quickLooks = 0;
    browser.onQuickLook = [&quickLooks] {
        ++quickLooks;
    };
    m_bed->open(folderURL());
    select({QStringLiteral("file2.txt")});
    m_bed->presenter->next.code = AlertResponse::firstButton + 1;
    QTest::keyClick(browser.itemView(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    m_bed->settle();
    const QList<FileItem> clipboard = m_bed->clipboard->items.value();
    QCOMPARE(namesOf(clipboard),
             effect == u"copy" || effect == u"cut" ? QStringList{"file2.txt"} : QStringList{});
    if (!clipboard.isEmpty())
        QCOMPARE(m_bed->clipboard->mode.value(),
                 effect == u"cut" ? ClipboardManager::Mode::cut : ClipboardManager::Mode::copy);
    QCOMPARE(m_bed->presenter->requests.size(), effect == u"rename" ? 1 : 0);
    QCOMPARE(quickLooks, effect == u"quicklook" ? 1 : 0);
    QCOMPARE(m_bed->provider->deleted, effect == u"delete" ? QStringList{"file2.txt"} : QStringList{});
    if (effect == u"duplicate")
        QTRY_VERIFY(QFile::exists(m_root + QStringLiteral("/file2 copy.txt")));
    else
        QVERIFY(!QFile::exists(m_root + QStringLiteral("/file2 copy.txt")));
}

void tst_FlatBrowserController::doubleClick_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("shown");
    addViewRows("a folder opens", [](QTestData& row) {
        row << "Folder"
            << "Folder";
    });
    addViewRows("a file does nothing", [](QTestData& row) {
        row << "img_1.jpg"
            << "";
    });
    addViewRows("the empty area does nothing", [](QTestData& row) {
        row << ""
            << "";
    });
}

void tst_FlatBrowserController::doubleClick() {
    QFETCH(Kind, kind);
    QFETCH(QString, target);
    QFETCH(QString, shown);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    QAbstractItemView* view = browser.itemView();
    const QPoint point = target.isEmpty()
                             ? QPoint(view->viewport()->width() - 5, view->viewport()->height() - 5)
                             : centreOf(target);
    // Qt's test double click brings no press of its own: the first click of the pair comes first.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, point);
    m_bed->settle();
    QCOMPARE(m_bed->navigation->currentPath.value(), std::optional<URL>(folderURL(shown)));
}

void tst_FlatBrowserController::contextClickSelection_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QStringList>("after");
    const QStringList three{"file2.txt", "file10.txt", "Notes.TXT"};
    QTest::newRow("list: an unselected row replaces")
        << Kind::list << three << "img_1.jpg" << QStringList{"img_1.jpg"};
    QTest::newRow("icon: an unselected item joins")
        << Kind::icon << three << "img_1.jpg"
        << QStringList{"file2.txt", "file10.txt", "img_1.jpg", "Notes.TXT"};
    QTest::newRow("list: a selected row keeps the selection") << Kind::list << three << "file10.txt" << three;
    QTest::newRow("icon: a selected item keeps the selection")
        << Kind::icon << three << "file10.txt" << three;
    QTest::newRow("list: the empty area keeps the selection") << Kind::list << three << "" << three;
    QTest::newRow("icon: nothing selected, the empty area")
        << Kind::icon << QStringList{} << "" << QStringList{};
}

void tst_FlatBrowserController::contextClickSelection() {
    QFETCH(Kind, kind);
    QFETCH(QStringList, selected);
    QFETCH(QString, clicked);
    QFETCH(QStringList, after);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    select(selected);
    QAbstractItemView* view = browser.itemView();
    const QPoint point = clicked.isEmpty()
                             ? QPoint(view->viewport()->width() - 5, view->viewport()->height() - 5)
                             : centreOf(clicked);
    QMenu* menu = browser.contextMenuAt(point);
    QVERIFY(menu);
    // In index order, whatever order the clicks came in: the delete question names them so.
    QCOMPARE(namesOf(browser.selectedItems()), after);
    QTRY_COMPARE(m_bed->navigation->selectedItems.value().size(), after.size());
    QCOMPARE(menu->isEmpty(), after.isEmpty());
    if (!after.isEmpty()) {
        ContextMenuTarget* target = ContextMenuTarget::of(menu);
        QVERIFY(target);
        QCOMPARE(namesOf(target->items()), after);
    }
}

void tst_FlatBrowserController::drops_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("onto");
    QTest::addColumn<int>("action");
    // Where the dragged file is afterwards; "" for nowhere new.
    QTest::addColumn<QString>("landsIn");
    QTest::newRow("list: onto a folder row moves") << Kind::list << "file2.txt"
                                                   << "Folder" << int(Qt::MoveAction) << "Folder";
    QTest::newRow("list: onto a file row is refused") << Kind::list << "Other/o.txt"
                                                      << "img_1.jpg" << int(Qt::IgnoreAction) << "";
    QTest::newRow("icon: onto a file goes to the folder shown") << Kind::icon << "Other/o.txt"
                                                                << "img_1.jpg" << int(Qt::MoveAction) << ".";
    QTest::newRow("icon: into the folder it lies in is refused") << Kind::icon << "file2.txt"
                                                                 << "" << int(Qt::IgnoreAction) << "";
    QTest::newRow("list: a folder onto itself is refused") << Kind::list << "Folder"
                                                           << "Folder" << int(Qt::IgnoreAction) << "";
    // Another program's file, gone before the copy starts.
    QTest::newRow("icon: a file gone meanwhile: logged") << Kind::icon << "Other/gone.txt"
                                                         << "Folder" << int(Qt::CopyAction) << "";
}

void tst_FlatBrowserController::drops() {
    QFETCH(Kind, kind);
    QFETCH(QString, dragged);
    QFETCH(QString, onto);
    QFETCH(int, action);
    QFETCH(QString, landsIn);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    QMimeData data;
    const URL url = URL::fileURL(m_root + u'/' + dragged, dragged == u"Folder");
    if (dragged.contains(QStringLiteral("gone")))
        data.setUrls({toQUrl(url)});
    else
        writeInternalURLs({url}, data);
    // Through the view's own drag events: where the pointer is decides the target.
    QWidget* viewport = browser.itemView()->viewport();
    const QPoint point =
        onto.isEmpty() ? QPoint(viewport->width() - 5, viewport->height() - 5) : centreOf(onto);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    // Qt hands moves and drops only to the widget that took the drag's entry.
    QDragEnterEvent move(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QCOMPARE(move.isAccepted() ? int(move.dropAction()) : int(Qt::IgnoreAction), action);
    if (action == Qt::IgnoreAction)
        return;
    LogCapture log;
    QDropEvent drop(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());
    m_bed->settle();
    const QString name = dragged.section(u'/', -1);
    if (!landsIn.isEmpty()) {
        QVERIFY(QFile::exists(m_root + u'/' + landsIn + u'/' + name));
        QVERIFY(!QFile::exists(m_root + u'/' + dragged));
        // Listed again after the drop.
        QCOMPARE(m_bed->shownNames().contains(name), landsIn == u".");
    }
    QCOMPARE(log.messages(LogCapture::category("ui")).filter(QStringLiteral("Drop failed: ")).size(),
             landsIn.isEmpty() ? 1 : 0);
}

void tst_FlatBrowserController::dropHighlight_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("onto");
    QTest::addColumn<bool>("internal");
    QTest::addColumn<bool>("drop");
    // What hovers: the operation shown, and the row framed ("" for the whole view).
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("framed");
    const int move = int(RowDropRules::Operation::move);
    const int copy = int(RowDropRules::Operation::copy);
    const int none = int(RowDropRules::Operation::none);
    addViewRows("ours onto a folder, dropped", [&](QTestData& row) {
        row << "Folder" << true << true << move << "Folder";
    });
    addViewRows("another program's file on the empty area, left", [&](QTestData& row) {
        row << "" << false << false << copy << "";
    });
    addViewRows("another program's file on the empty area, dropped", [&](QTestData& row) {
        row << "" << false << true << copy << "";
    });
    QTest::newRow("list: onto a file row is refused") << Kind::list << "img_1.jpg" << true << false << none
                                                      << "";
    QTest::newRow("icon: onto a file frames the folder shown")
        << Kind::icon << "img_1.jpg" << true << false << move << "";
}

void tst_FlatBrowserController::dropHighlight() {
    QFETCH(Kind, kind);
    QFETCH(QString, onto);
    QFETCH(bool, internal);
    QFETCH(bool, drop);
    QFETCH(int, operation);
    QFETCH(QString, framed);
    FlatBrowserController& browser = m_bed->make(kind);
    m_bed->open(folderURL());
    QMimeData data;
    const URL url = URL::fileURL(m_root + QStringLiteral("/Other/o.txt"));
    if (internal)
        writeInternalURLs({url}, data);
    else
        data.setUrls({toQUrl(url)});
    QWidget* viewport = browser.itemView()->viewport();
    const QPoint point =
        onto.isEmpty() ? QPoint(viewport->width() - 5, viewport->height() - 5) : centreOf(onto);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QCOMPARE(int(browser.dropHighlight().operation), operation);
    QCOMPARE(browser.dropHighlight().row, framed.isEmpty() ? -1 : m_bed->rowOf(framed));
    if (drop && enter.isAccepted()) {
        QDropEvent dropped(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &dropped);
        QVERIFY(dropped.isAccepted());
    } else {
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(viewport, &leave);
    }
    QCOMPARE(browser.dropHighlight(), DropHighlight{});
    m_bed->settle();
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_FlatBrowserController)
#include "tst_FlatBrowserController.moc"
