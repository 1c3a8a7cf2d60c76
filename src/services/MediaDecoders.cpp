#include "services/MediaDecoders.h"

#include "platform/Logger.h"

#include <QCoreApplication>
#include <QLibrary>

#include <mutex>

namespace {

struct Loaded {
    const MediaDecoderTable* table = nullptr;
    QString error;
};

// Next to the program (as scripts/run starts it), where an installation puts it, then where this
// build put it (tests and benchmarks live in folders of their own).
QStringList candidates() {
    const QString file = QStringLiteral("orvanta_media");
    QStringList paths;
    if (QCoreApplication::instance()) {
        paths << QCoreApplication::applicationDirPath() + QStringLiteral("/lib/") + file;
        paths << QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/orvanta/") + file;
    }
#ifdef ORVANTA_MEDIA_MODULE_DIR
    paths << QStringLiteral(ORVANTA_MEDIA_MODULE_DIR "/") + file;
#endif
    return paths;
}

Loaded load() {
    Loaded loaded;
    QStringList errors;
    for (const QString& path : candidates()) {
        // Never unloaded: decoded images and the libraries' own caches outlive any one call.
        QLibrary library(path);
        library.setLoadHints(QLibrary::PreventUnloadHint);
        if (!library.load()) {
            errors << library.errorString();
            continue;
        }
        using Entry = const MediaDecoderTable* (*)();
        const auto entry = reinterpret_cast<Entry>(library.resolve(ORVANTA_MEDIA_ENTRY));
        const MediaDecoderTable* table = entry ? entry() : nullptr;
        if (!table || table->version != MediaDecoderTable::currentVersion) {
            errors << QStringLiteral("%1 is not this build's media module").arg(library.fileName());
            continue;
        }
        loaded.table = table;
        return loaded;
    }
    loaded.error = errors.isEmpty() ? QStringLiteral("no place to look for the media module") : errors.join(u"; ");
    Logger::ui().error("Media decoders unavailable: %s", loaded.error);
    return loaded;
}

const Loaded& loaded() {
    static std::once_flag once;
    static Loaded result;
    std::call_once(once, [] { result = load(); });
    return result;
}

} // namespace

const MediaDecoderTable* MediaDecoders::table() {
    return loaded().table;
}

QString MediaDecoders::loadError() {
    return loaded().error;
}
