#include "device/Logger.h"

#include "LogCapture.h"

#include <QTest>

#include <functional>
#include <thread>

class tst_Logger : public QObject {
    Q_OBJECT

private slots:
    void channelsFromTwoThreadsAreTheSame();
    void categoriesAreNamedUnderTheSubsystem_data();
    void categoriesAreNamedUnderTheSubsystem();
};

void tst_Logger::channelsFromTwoThreadsAreTheSame() {
    // Both threads race to the first creation; they must end up with one object and one subsystem.
    const OSLog* fromThread = nullptr;
    std::thread other([&fromThread] { fromThread = &Logger::device(); });
    const OSLog* fromMain = &Logger::device();
    other.join();
    QCOMPARE(fromThread, fromMain);
    QCOMPARE(Logger::device().subsystem(), Logger::transfer().subsystem());
    QCOMPARE(Logger::subsystem(), QStringLiteral("io.halvorn.orvanta"));
}

void tst_Logger::categoriesAreNamedUnderTheSubsystem_data() {
    QTest::addColumn<std::function<const OSLog&()>>("channel");
    QTest::addColumn<QString>("name");

    QTest::newRow("device") << std::function<const OSLog&()>(&Logger::device) << "io.halvorn.orvanta.device";
    QTest::newRow("bridge") << std::function<const OSLog&()>(&Logger::bridge) << "io.halvorn.orvanta.bridge";
    QTest::newRow("filesystem") << std::function<const OSLog&()>(&Logger::filesystem)
                                << "io.halvorn.orvanta.filesystem";
    QTest::newRow("transfer") << std::function<const OSLog&()>(&Logger::transfer)
                              << "io.halvorn.orvanta.transfer";
    QTest::newRow("ui") << std::function<const OSLog&()>(&Logger::ui) << "io.halvorn.orvanta.ui";
}

void tst_Logger::categoriesAreNamedUnderTheSubsystem() {
    QFETCH(std::function<const OSLog&()>, channel);
    QFETCH(QString, name);
    LogCapture capture;
    channel().info("Listed %ld items at %s", 3L, QStringLiteral("/DCIM"));
    QVERIFY(capture.contains(name, QStringLiteral("Listed 3 items at /DCIM")));
}

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_Logger.moc"
