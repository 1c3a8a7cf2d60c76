#include "LogCapture.h"
#include "platform/Logger.h"
#include "platform/OSLog.h"
#include "platform/async/AsyncLog.h"

#include <QTest>

#include <limits>

class tst_OSLog : public QObject {
    Q_OBJECT

private slots:
    void formatsDirectives_data() {
        QTest::addColumn<QString>("formatted");
        QTest::addColumn<QString>("expected");

        const char* none = nullptr;
        QTest::newRow("null C string") << OSLog::format("[%s]", none) << "[(null)]";
        QTest::newRow("llu 64-bit") << OSLog::format("AFC wrote %llu bytes",
                                                     std::numeric_limits<quint64>::max())
                                    << "AFC wrote 18446744073709551615 bytes";
        QTest::newRow("percent") << OSLog::format("100%% of %d", 3) << "100% of 3";
        // A format that does not match its arguments must still give a readable line, never a crash.
        QTest::newRow("text for d") << OSLog::format("%d", QStringLiteral("x")) << "x";
        QTest::newRow("number for s") << OSLog::format("%s", 12) << "12";
        QTest::newRow("missing argument") << OSLog::format("%s and %s", "one") << "one and <missing>";
        QTest::newRow("cut-off directive") << OSLog::format("50%", 1) << "50%";
    }

    void formatsDirectives() {
        QFETCH(QString, formatted);
        QFETCH(QString, expected);
        QCOMPARE(formatted, expected);
    }

    void emitsOnCategoryAtLevel() {
        const OSLog log(QStringLiteral("io.halvorn.orvanta"), QStringLiteral("transfer"));
        LogCapture capture;
        log.info("Transfer started for %s", "a");
        log.debug("chunk %llu", quint64(1));
        log.error("Transfer failed for %s: %s", "a", "boom");

        const QList<LogRecord> records = capture.records();
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[0].level, QtInfoMsg);
        QCOMPARE(records[1].level, QtDebugMsg);
        QCOMPARE(records[2].level, QtCriticalMsg);
        QCOMPARE(capture.messages(QStringLiteral("io.halvorn.orvanta.transfer")),
                 QStringList({"Transfer started for a", "chunk 1", "Transfer failed for a: boom"}));
    }

    void debugLinesOnlyWhenVerbose_data() {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("by default") << false;
        QTest::newRow("verbose") << true;
    }

    // The app's channels write info and above unless asked for more; the platform layer's own
    // channel follows the same rule.
    void debugLinesOnlyWhenVerbose() {
        QFETCH(bool, verbose);
        Logger::setVerbose(verbose);
        for (const QLoggingCategory* category :
             {&Logger::device().loggingCategory(), &Logger::ui().loggingCategory(), &async::lcAsync()}) {
            QCOMPARE(category->isDebugEnabled(), verbose);
            QVERIFY(category->isInfoEnabled());
            QVERIFY(category->isCriticalEnabled());
        }
        QLoggingCategory::setFilterRules(QString());
    }
};

// The rules of the environment have the last word over the program's own, and the test runner
// switches debug lines off through them: the levels checked here are the program's alone.
int main(int argc, char** argv) {
    qunsetenv("QT_LOGGING_RULES");
    QCoreApplication application(argc, argv);
    tst_OSLog test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_OSLog.moc"
