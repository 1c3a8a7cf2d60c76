// The drop rules of the browsers' rows over one table: which drops are refused, where a drop
// goes, and when it moves rather than copies, each fed from the drag data as a drop brings it.

#include "browser/OrvantaDragMimeData.h"
#include "browser/RowDropRules.h"

#include <QMimeData>
#include <QTest>

using RowDropRules::Operation;
using RowDropRules::Position;

namespace {

const QString phone = QStringLiteral("afc://00008110-001A2B3C4D5E6F70");
const QString otherPhone = QStringLiteral("afc://00008030-000A11B22C33D44E");
const QString pictures = QStringLiteral("file:///home/u/Pictures/");
const QString trips = QStringLiteral("file:///home/u/Pictures/Trips/");

URL at(const QString& text) {
    return *URL::fromString(text);
}

FileItem itemAt(const QString& text) {
    const URL url = at(text);
    const bool folder = text.endsWith(u'/');
    return FileItem(text, url.lastPathComponent(), url, folder, 0, Date(0),
                    folder ? FileKind::folder : FileKind::other, std::nullopt);
}

// The view shows Pictures: row 0 the folder Trips, row 1 a file.
const QStringList rows{trips, QStringLiteral("file:///home/u/Pictures/a.jpg")};

} // namespace

Q_DECLARE_METATYPE(RowDropRules::Operation)

class tst_RowDropRules : public QObject {
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
};

void tst_RowDropRules::rules_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("row"); // -1: between rows or on the empty stretch
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("internal");
    QTest::addColumn<bool>("alt");
    QTest::addColumn<Operation>("shown");
    QTest::addColumn<QString>("target"); // empty: not taken
    QTest::addColumn<bool>("isMove");

    const QString desktopFile = QStringLiteral("file:///home/u/Desktop/b.jpg");
    const QString photo = phone + QStringLiteral("/DCIM/100APPLE/IMG_1.HEIC");
    const QString otherDcim = otherPhone + QStringLiteral("/DCIM/100APPLE/");
    const QString container = phone + QStringLiteral("/.app/com.example.notes/DCIM/100APPLE/");
    auto row = [](const char* name, QStringList items, QString folder, int row, QStringList dropped,
                  bool internal, bool alt, Operation shown, QString target, bool isMove) {
        QTest::newRow(name) << items << folder << row << dropped << internal << alt << shown << target
                            << isMove;
    };
    row("on a folder row: moves into it", rows, pictures, 0, {desktopFile}, true, false, Operation::move,
        trips, true);
    row("with Alt: copies", rows, pictures, 0, {desktopFile}, true, true, Operation::copy, trips, false);
    row("on a file row: refused, taken into the folder", rows, pictures, 1, {desktopFile}, true, false,
        Operation::none, pictures, true);
    row("between rows: into the folder", rows, pictures, -1, {desktopFile}, true, false, Operation::move,
        pictures, true);
    row("nothing readable", rows, pictures, -1, {}, true, false, Operation::none, QString(), false);
    row("folder onto itself, without its slash", rows, pictures, 0,
        {QStringLiteral("file:///home/u/Pictures/Trips")}, true, false, Operation::none, QString(), false);
    row("folder into a folder inside it", {trips + QStringLiteral("2024/")}, trips, 0, {pictures}, true,
        false, Operation::none, QString(), false);
    row("into its own parent", rows, pictures, 0, {desktopFile, trips + QStringLiteral("d.jpg")}, true, false,
        Operation::none, QString(), false);
    row("a folder whose name starts the target's is no parent", rows, pictures, 0,
        {QStringLiteral("file:///home/u/Pictures/Trip")}, true, false, Operation::move, trips, true);
    // Path text alone would refuse these two.
    row("same path on another phone", {otherDcim}, otherPhone + u'/', 0, {photo}, true, false,
        Operation::move, otherDcim, true);
    row("same path in an app's container", {}, container, -1, {photo}, true, false, Operation::move,
        container, true);
    row("phone to computer: shows move, copies", rows, pictures, 0, {photo}, true, false, Operation::move,
        trips, false);
    row("from the file manager: copies", rows, pictures, 0, {desktopFile}, false, false, Operation::copy,
        trips, false);
}

void tst_RowDropRules::rules() {
    QFETCH(QStringList, items);
    QFETCH(QString, folder);
    QFETCH(int, row);
    QFETCH(QStringList, dropped);
    QFETCH(bool, internal);
    QFETCH(bool, alt);
    QFETCH(Operation, shown);
    QFETCH(QString, target);
    QFETCH(bool, isMove);

    // The drop's data as it arrives: our own list, or the file manager's URLs.
    QList<URL> urls;
    for (const QString& text : dropped)
        urls.append(at(text));
    QMimeData data;
    if (internal) {
        writeInternalURLs(urls, data);
    } else {
        QList<QUrl> files;
        for (const URL& url : urls)
            files.append(toQUrl(url));
        data.setUrls(files);
    }
    QList<FileItem> shownItems;
    for (const QString& text : items)
        shownItems.append(itemAt(text));
    const RowDropRules::Context context =
        RowDropRules::contextFor(&data, shownItems, at(folder), row, row < 0 ? Position::above : Position::on,
                                 alt ? Qt::AltModifier : Qt::ControlModifier);
    QCOMPARE(context.dropped, urls);

    QCOMPARE(RowDropRules::validate(context), shown);
    const std::optional<RowDropRules::Plan> plan = RowDropRules::accept(context);
    QCOMPARE(plan ? plan->target.absoluteString() : QString(), target);
    QCOMPARE(plan && plan->isMove, isMove);
}

QTEST_GUILESS_MAIN(tst_RowDropRules)
#include "tst_RowDropRules.moc"
