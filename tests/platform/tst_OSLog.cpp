#include "LogCapture.h"
#include "platform/OSLog.h"

#include <QTest>
#include <QThread>

#include <cstdint>
#include <limits>

class tst_OSLog : public QObject {
    Q_OBJECT

private slots:
    void formatsDirectives_data();
    void formatsDirectives();
    void emitsOnCategoryAtLevel();
    void capturesOtherThreads();
};

void tst_OSLog::formatsDirectives_data() {
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<QString>("expected");

    const char* none = nullptr;
    QTest::newRow("QString") << OSLog::format("AFC connected for %s", QStringLiteral("Größe"))
                             << "AFC connected for Größe";
    QTest::newRow("C string") << OSLog::format("[%s]", "literal") << "[literal]";
    QTest::newRow("null C string") << OSLog::format("[%s]", none) << "[(null)]";
    QTest::newRow("public") << OSLog::format("route: %{public}s", QStringLiteral("afc")) << "route: afc";
    QTest::newRow("lld") << OSLog::format("%lld", std::numeric_limits<qint64>::min())
                         << "-9223372036854775808";
    QTest::newRow("llu 64-bit") << OSLog::format("AFC wrote %llu bytes", std::numeric_limits<quint64>::max())
                                << "AFC wrote 18446744073709551615 bytes";
    QTest::newRow("f") << OSLog::format("took %fs", 1.5) << "took 1.500000s";
    QTest::newRow("bool true") << OSLog::format("directory=%{bool}d", true) << "directory=true";
    QTest::newRow("percent") << OSLog::format("100%% of %d", 3) << "100% of 3";
    QTest::newRow("hex byte") << OSLog::format("%02x%02x", 10, 255) << "0aff";
    QTest::newRow("width on text") << OSLog::format("[%5s|%-3s]", "ab", "c") << "[   ab|c  ]";
    // A format that does not match its arguments must still give a readable line, never a crash.
    QTest::newRow("text for d") << OSLog::format("%d", QStringLiteral("x")) << "x";
    QTest::newRow("number for s") << OSLog::format("%s", 12) << "12";
    QTest::newRow("missing argument") << OSLog::format("%s and %s", "one") << "one and <missing>";
    QTest::newRow("cut-off directive") << OSLog::format("50%", 1) << "50%";
}

void tst_OSLog::formatsDirectives() {
    QFETCH(QString, formatted);
    QFETCH(QString, expected);
    QCOMPARE(formatted, expected);
}

void tst_OSLog::emitsOnCategoryAtLevel() {
    const OSLog log(QStringLiteral("io.halvorn.orvanta"), QStringLiteral("transfer"));
    const OSLog copy = log;
    LogCapture capture;
    log.info("Transfer started for %s", "a");
    copy.debug("chunk %llu", quint64(1));
    log.error("Transfer failed for %s: %s", "a", "boom");

    const QList<LogRecord> records = capture.records();
    QCOMPARE(records.size(), 3);
    const QString category = QStringLiteral("io.halvorn.orvanta.transfer");
    QCOMPARE(records[0].level, QtInfoMsg);
    QCOMPARE(records[1].level, QtDebugMsg);
    QCOMPARE(records[2].level, QtCriticalMsg);
    QVERIFY(capture.contains(category, QStringLiteral("Transfer failed for a: boom")));
    QCOMPARE(capture.messages(category),
             QStringList({"Transfer started for a", "chunk 1", "Transfer failed for a: boom"}));
    QVERIFY(capture.messages(QStringLiteral("io.halvorn.orvanta.ui")).isEmpty());
}

void tst_OSLog::capturesOtherThreads() {
    const OSLog log(QStringLiteral("io.halvorn.orvanta"), QStringLiteral("bridge"));
    LogCapture capture;
    QThread* thread = QThread::create([&log] {
        for (int i = 0; i < 100; ++i)
            log.info("line %d", i);
    });
    thread->start();
    thread->wait();
    delete thread;
    QCOMPARE(capture.messages().size(), 100);
    QCOMPARE(capture.messages().last(), QStringLiteral("line 99"));
}

QTEST_GUILESS_MAIN(tst_OSLog)
#include "tst_OSLog.moc"
