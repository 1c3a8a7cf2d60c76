#include "services/SelectionOrder.h"

#include <QTest>

namespace {

FileItem photo(const QString& name, quint64 size = 1) {
    const URL url = URL::fileURL(QStringLiteral("/roll/") + name);
    return FileItem(url.toLocalFile(), name, url, false, size, Date::now(), FileKind::other, std::nullopt);
}

// "c a b" are the photos c, a and b, in that order.
QList<FileItem> photos(const QString& names) {
    QList<FileItem> result;
    for (const QString& name : names.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result.append(photo(name));
    return result;
}

QString namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names << item.name();
    return names.join(QLatin1Char(' '));
}

} // namespace

// The order a command such as Copy takes a selection in.
class tst_SelectionOrder : public QObject {
    Q_OBJECT

private slots:
    void listedFirstInTheirOrderThenUnlistedByName_data() {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const char* listing, const char* selected,
                            const char* expected) {
            QTest::newRow(tag) << QString::fromLatin1(listing) << QString::fromLatin1(selected)
                               << QString::fromLatin1(expected);
        };
        row("the listing's order, not the names'", "c a d b", "a b c", "c a b");
        row("everything", "b a", "a b", "b a");
        row("gone from the listing go last, by name", "c a", "z a y c", "c a y z");
        row("nothing listed", "", "b c a", "a b c");
        row("a listing naming one twice", "b a b", "a b", "b a");
        row("twice, and one gone", "b a b", "a b x", "b a x");
    }

    void listedFirstInTheirOrderThenUnlistedByName() {
        QFETCH(QString, listing);
        QFETCH(QString, selected);
        QFETCH(QString, expected);
        const QList<FileItem> chosen = photos(selected);
        const QList<FileItem> ordered =
            SelectionOrder::inListingOrder(QSet<FileItem>(chosen.begin(), chosen.end()), photos(listing));
        QCOMPARE(namesOf(ordered), expected);
    }

    // A listing read again since the selection was made may hold a newer record of the same
    // item; the command goes with what was selected. A whole camera roll comes out whole.
    void keepsTheSelectedRecordsOfAWholeRoll() {
        QList<FileItem> listing;
        QSet<FileItem> selection;
        for (int index = 0; index < 10000; ++index) {
            const QString name = QStringLiteral("IMG_%1.JPG").arg(index, 5, 10, QLatin1Char('0'));
            listing.append(photo(name, 1));
            selection.insert(photo(name, 2));
        }
        const QList<FileItem> ordered = SelectionOrder::inListingOrder(selection, listing);
        QCOMPARE(ordered.size(), listing.size());
        for (qsizetype index = 0; index < ordered.size(); ++index) {
            QCOMPARE(ordered.at(index).name(), listing.at(index).name());
            QCOMPARE(ordered.at(index).size(), quint64(2));
        }
    }
};

QTEST_GUILESS_MAIN(tst_SelectionOrder)
#include "tst_SelectionOrder.moc"
