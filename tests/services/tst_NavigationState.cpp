#include "services/NavigationState.h"

#include "TemporaryDefaults.h"

#include <QTest>

using URLs = QList<URL>;

namespace {

// "a b" are the folders file:///a and file:///b.
URLs folders(const QString& names) {
    URLs result;
    for (const QString& name : names.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result.append(*URL::fromString(QStringLiteral("file:///") + name));
    return result;
}

static_assert(!browserViewModeFromRawValue(-1) && !browserViewModeFromRawValue(3));
static_assert(browserViewModeFromRawValue(2) == BrowserViewMode::column);

} // namespace

class tst_NavigationState : public QObject {
    Q_OBJECT

private slots:
    // Moves: "x" navigates to folder x, "<" goes back, ">" forward, "#n" navigates to the n-th
    // recent folder (an element of the very list the move replaces).
    void histories_data() {
        QTest::addColumn<QString>("moves");
        QTest::addColumn<QString>("back");
        QTest::addColumn<QString>("forward");
        QTest::addColumn<QString>("recent");

        const auto row = [](const char* tag, const char* moves, const char* back, const char* forward,
                            const char* recent) {
            QTest::newRow(tag) << QString::fromLatin1(moves) << QString::fromLatin1(back)
                               << QString::fromLatin1(forward) << QString::fromLatin1(recent);
        };
        row("same folder twice", "a a", "a", "", "a");
        row("back twice, forward once", "a b c < < >", "a", "c", "b a c");
        row("navigating after back empties forward", "a b c < < d", "a", "", "d a b c");
        row("revisiting the fifth recent", "1 2 3 4 5 6 #4", "1 2 3 4 5 6", "", "2 6 5 4 3 1");
        row("back without history", "a <", "", "", "a");
    }

    void histories() {
        QFETCH(QString, moves);
        QFETCH(QString, back);
        QFETCH(QString, forward);
        QFETCH(QString, recent);
        TemporaryDefaults defaults;
        NavigationState state(defaults.store());
        int shown = 0;
        auto counting =
            state.currentPath.subscribe([&shown](const auto& path) { shown += path.has_value(); });
        for (const QString& move : moves.split(QLatin1Char(' '))) {
            state.searchQuery = QStringLiteral("find");
            if (move == QLatin1String("<"))
                state.goBack();
            else if (move == QLatin1String(">"))
                state.goForward();
            else if (move.startsWith(QLatin1Char('#')))
                state.navigate(state.recentPaths.value().at(move.mid(1).toInt()));
            else
                state.navigate(folders(move).first());
        }
        QCOMPARE(state.backStack(), folders(back));
        QCOMPARE(state.forwardStack(), folders(forward));
        QCOMPARE(state.recentPaths.value(), folders(recent));
        QCOMPARE(state.currentPath.value(), folders(recent).first());
        // Each move is announced once and clears the search; a step without history does neither.
        QCOMPARE(state.searchQuery.value().isEmpty(), shown == moves.count(QLatin1Char(' ')) + 1);
    }

    void recentFoldersAreTheTenNewestAndOutliveTheState() {
        TemporaryDefaults defaults;
        {
            NavigationState state(defaults.store());
            for (int i = 1; i <= 11; ++i)
                state.navigate(folders(QString::number(i)).first());
        }
        NavigationState relaunched(defaults.reopen());
        QCOMPARE(relaunched.recentPaths.value(), folders("11 10 9 8 7 6 5 4 3 2"));
        QCOMPARE(relaunched.currentPath.value(), std::nullopt);
    }

    void storedRecentFoldersOfOtherShapes_data() {
        QTest::addColumn<QVariantList>("stored");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("unparsable text is skipped")
            << QVariantList{"file:///a", "no scheme", "file:///b"} << "a b";
        QTest::newRow("a number among texts is skipped")
            << QVariantList{"file:///a", qint64(3), "file:///b"} << "a b";
    }

    void storedRecentFoldersOfOtherShapes() {
        QFETCH(QVariantList, stored);
        QFETCH(QString, loaded);
        TemporaryDefaults defaults;
        defaults.store().set(NavigationState::recentPathsKey, stored);
        QCOMPARE(NavigationState(defaults.store()).recentPaths.value(), folders(loaded));
    }
};

QTEST_GUILESS_MAIN(tst_NavigationState)
#include "tst_NavigationState.moc"
