#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

void dropMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    // Qt aborts after a fatal message (a failed Q_ASSERT among them); the reason must reach the
    // crash report.
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QTemporaryDir* scratch = nullptr;

void removeScratch() {
    delete scratch;
    scratch = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qInstallMessageHandler(dropMessage);
    // Never destroyed: stores and caches made during the run may still use Qt at exit.
    new QCoreApplication(*argc, *argv);
    return 0;
}

void fuzzCheck(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz property violated: %s\n", property);
    std::abort();
}

QString fuzzScratchFolder() {
    if (!scratch) {
        // libFuzzer may end a run without the exit handlers, so scripts/fuzz hands in a folder of
        // its own that it removes itself.
        QString base = qEnvironmentVariable("ORVANTA_FUZZ_SCRATCH");
        if (base.isEmpty())
            base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        scratch = new QTemporaryDir(base + QStringLiteral("/orvanta-fuzz-XXXXXX"));
        fuzzCheck(scratch->isValid(), "a scratch folder can be made");
        std::atexit(removeScratch);
    }
    return scratch->path();
}
