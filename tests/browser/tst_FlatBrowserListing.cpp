// What the icon and the list browser show, count and let act on while the folder they name waits
// for its listing: nothing of the folder left, whatever the user does meanwhile.

#include "DeviceTestCase.h"
#include "FlatBrowserTestBed.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"
#include "device/AFCLocation.h"
#include "uikit/Spinner.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>

using Kind = FlatBrowserTestBed::Kind;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

} // namespace

class tst_FlatBrowserListing : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rowsLeaveWithTheirFolder_data();
    void rowsLeaveWithTheirFolder();

private:
    URL folderURL() const { return URL::fileURL(m_root, true); }
    QPoint centreOf(const QString& name) const {
        QAbstractItemView* view = m_bed->browser->itemView();
        return view->visualRect(view->model()->index(m_bed->rowOf(name), 0)).center();
    }
    void select(const QString& name) {
        QAbstractItemView* view = m_bed->browser->itemView();
        view->selectionModel()->select(view->model()->index(m_bed->rowOf(name), 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    QTemporaryDir m_home;
    QString m_root;
    std::unique_ptr<FlatBrowserTestBed> m_bed;
};

void tst_FlatBrowserListing::initTestCase() {
    // A delete that went wrong would send computer files to this trash, never the developer's.
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("data"))));
}

void tst_FlatBrowserListing::init() {
    setUpTest();
    m_root = scratchPath(QStringLiteral("tree"));
    for (const char* file : {"Folder/inner.txt", "file2.txt", "img_1.jpg"})
        QVERIFY(writeTestFile(m_root + u'/' + file, "xx"));
    m_bed = std::make_unique<FlatBrowserTestBed>();
}

void tst_FlatBrowserListing::cleanup() {
    m_bed.reset();
    tearDownTest();
}

void tst_FlatBrowserListing::rowsLeaveWithTheirFolder_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("command");
    for (const char* command : {"Delete key", "Edit menu's Delete", "Copy", "Cut", "Rename", "Duplicate",
                                "double click", "drag", "context menu", "Select All"})
        addViewRows(command, [command](QTestData& row) { row << QString::fromLatin1(command); });
}

// A computer folder, then a folder of a phone that is slow to answer (a copy keeps it busy): from
// the moment the window names the phone's folder, the computer's rows are gone, neither counted
// nor selected, and no command, key, click or drag acts on them. The phone's rows come when its
// listing does.
void tst_FlatBrowserListing::rowsLeaveWithTheirFolder() {
    QFETCH(Kind, kind);
    QFETCH(QString, command);
    fakemux::DeviceDescription description = describeDevice(udid);
    QVERIFY(writeTestFile(QString::fromStdString(description.mediaRoot.string()) +
                              QStringLiteral("/Recordings/clip.mov"),
                          "xx"));
    fakemux::VirtualDevice& device = addDevice(description);
    FlatBrowserController& browser = m_bed->make(kind);
    QStringList dragged;
    browser.dragStarter = [&dragged](const QList<FileItem>& items, QWidget*) {
        dragged = namesOf(items);
    };
    // The phone's session is open before its next listing is held.
    m_bed->open(AFCLocation::mediaRoot(udid));
    QCOMPARE(m_bed->shownNames(), QStringList{"Recordings"});
    m_bed->open(folderURL());
    QAbstractItemView* view = browser.itemView();
    const QPoint folderAt = centreOf(QStringLiteral("Folder"));
    const QPoint fileAt = centreOf(QStringLiteral("file2.txt"));
    select(QStringLiteral("file2.txt"));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(m_bed->navigation->selectedItems.value().size(), 1);

    const URL recordings = AFCLocation::mediaURL(udid, QStringLiteral("/Recordings"));
    device.faults().holdNext("READ_DIR");
    m_bed->navigation->navigate(recordings);
    QVERIFY(requestHeld(device));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(browser.currentDirectoryURL(), recordings);
    QVERIFY(m_bed->shownNames().isEmpty());
    QVERIFY(!browser.hasSelection());
    // The status bar, the preview, Get Info and Quick Look read what is published.
    QVERIFY(m_bed->navigation->currentDirectoryContents.value().isEmpty());
    QVERIFY(m_bed->navigation->selectedItems.value().isEmpty());
    QVERIFY(browser.spinner()->isVisible());

    m_bed->presenter->next.code = AlertResponse::firstButton;
    m_bed->presenter->next.text = QStringLiteral("renamed.txt");
    if (command == u"Delete key") {
        QTest::keyClick(view, Qt::Key_Delete);
    } else if (command == u"Edit menu's Delete") {
        browser.deleteSelection();
    } else if (command == u"Copy") {
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    } else if (command == u"Cut") {
        browser.cutSelection();
    } else if (command == u"Rename") {
        QTest::keyClick(view, Qt::Key_Return);
    } else if (command == u"Duplicate") {
        browser.duplicateSelection();
    } else if (command == u"double click") {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, folderAt);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, folderAt);
    } else if (command == u"drag") {
        browser.startDrag(view);
    } else if (command == u"context menu") {
        QMenu* menu = browser.contextMenuAt(fileAt);
        QVERIFY(menu);
        QVERIFY(menu->isEmpty());
    } else if (command == u"Select All") {
        browser.selectAllItems();
    }
    QCoreApplication::sendPostedEvents();
    QVERIFY(!browser.hasSelection());
    QVERIFY(m_bed->navigation->selectedItems.value().isEmpty());
    QVERIFY(m_bed->clipboard->items.value().isEmpty());
    QVERIFY(dragged.isEmpty());
    QCOMPARE(m_bed->navigation->currentPath.value(), std::optional<URL>(recordings));

    // The phone answers: its rows, and nothing happened to the computer's files meanwhile.
    device.faults().releaseHeld();
    m_bed->settle();
    QCOMPARE(m_bed->shownNames(), QStringList{"clip.mov"});
    QCOMPARE(namesOf(m_bed->navigation->currentDirectoryContents.value()), QStringList{"clip.mov"});
    QVERIFY(!browser.spinner()->isVisible());
    QVERIFY(m_bed->presenter->requests.isEmpty());
    QVERIFY(m_bed->provider->deleted.isEmpty());
    QVERIFY(QFile::exists(m_root + QStringLiteral("/file2.txt")));
    QVERIFY(!QFile::exists(m_root + QStringLiteral("/renamed.txt")));
    QVERIFY(m_bed->transfers->activeTransfers.value().isEmpty());
    QVERIFY(m_bed->transfers->completedTransfers.value().isEmpty());
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_FlatBrowserListing)
#include "tst_FlatBrowserListing.moc"
