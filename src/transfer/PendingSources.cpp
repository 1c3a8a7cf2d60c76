#include "transfer/PendingSources.h"

#include "platform/async/ReleaseElsewhere.h"

#include "device/AFCComponents.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/TransferPlacement.h"

#include <algorithm>

namespace {

bool isLocal(const URL& url) {
    return url.scheme().isEmpty() || url.scheme() == QLatin1String("file");
}

// What comes before a key's path holds no "/": a key's folders are found by cutting at its slashes.
QString keyPart(QString text) {
    return text.replace(QLatin1Char('/'), QLatin1Char(':'));
}

} // namespace

PendingSources::PendingSources(const QList<FileItem>& sources)
    // The transfer's own list, shared: a camera roll's paths are not copied on the window's thread.
    : m_sources(sources), m_taken(size_t(sources.size()), false), m_left(sources.size()) {}

PendingSources::~PendingSources() {
    async::releaseElsewhere(std::move(m_sources), std::move(m_keys), std::move(m_pending));
}

QString PendingSources::locationKey(const URL& url) {
    if (isLocal(url)) {
        const QString path = TransferPlacement::normalizedPath(url.toLocalFile());
        return QStringLiteral("file:") + LocalTransferFiles::resolvedPath(path);
    }
    if (const std::optional<AFCComponents> parts = afcComponents(url))
        return QStringLiteral("afc:") + keyPart(parts->udid) + QLatin1Char(':') +
               keyPart(parts->bundleID.value_or(QString())) + QLatin1Char(':') +
               TransferPlacement::normalizedPath(parts->devicePath);
    return keyPart(url.scheme()) + QLatin1Char(':') + TransferPlacement::normalizedPath(url.path());
}

void PendingSources::index(const QStringList& keys) {
    m_keys = keys;
    m_pending.clear();
    for (qsizetype at = 0; at < m_keys.size(); ++at) {
        if (!m_taken[size_t(at)])
            m_pending.emplace(m_keys.at(at), at);
    }
    m_indexed = true;
}

void PendingSources::take(qsizetype index) {
    if (index < 0 || index >= m_sources.size() || m_taken[size_t(index)])
        return;
    m_taken[size_t(index)] = true;
    --m_left;
    if (!m_indexed)
        return;
    auto [first, last] = m_pending.equal_range(m_keys.at(index));
    for (auto entry = first; entry != last; ++entry) {
        if (entry->second == index) {
            m_pending.erase(entry);
            return;
        }
    }
}

async::Task<std::optional<PendingSources::Clash>>
PendingSources::clashWith(std::shared_ptr<TransferPlacement> placement, URL url) {
    if (m_left == 0)
        co_return std::nullopt;
    // Only a transfer that meets a clash pays for this, once.
    if (!m_indexed) {
        const auto keysOf = [sources = m_sources] {
            QStringList keys;
            keys.reserve(sources.size());
            for (const FileItem& source : sources)
                keys.append(locationKey(source.path()));
            return keys;
        };
        // A device's locations need no look at anything.
        if (std::none_of(m_sources.cbegin(), m_sources.cend(),
                         [](const FileItem& source) { return isLocal(source.path()); })) {
            index(keysOf());
        } else {
            async::Task<QStringList> resolving = placement->executor().run(keysOf);
            const QStringList keys = co_await resolving;
            // Another question may have been quicker.
            if (!m_indexed)
                index(keys);
        }
    }
    QString key;
    if (isLocal(url)) {
        async::Task<QString> resolving = placement->executor().run([url] { return locationKey(url); });
        key = co_await resolving;
    } else {
        key = locationKey(url);
    }

    const auto clash = [this](Relation relation, qsizetype at) {
        return Clash{relation, m_sources.at(at).path().lastPathComponent()};
    };
    if (const auto same = m_pending.find(key); same != m_pending.end())
        co_return clash(Relation::same, same->second);
    // Its folders, up to the first of the path.
    const qsizetype pathStart = key.indexOf(QLatin1Char('/'));
    for (qsizetype cut = key.lastIndexOf(QLatin1Char('/')); cut > pathStart;
         cut = key.lastIndexOf(QLatin1Char('/'), cut - 1)) {
        if (const auto folder = m_pending.find(key.left(cut)); folder != m_pending.end())
            co_return clash(Relation::inside, folder->second);
    }
    const QString below = key.endsWith(QLatin1Char('/')) ? key : key + QLatin1Char('/');
    if (const auto held = m_pending.lower_bound(below);
        held != m_pending.end() && held->first.startsWith(below))
        co_return clash(Relation::holds, held->second);
    co_return std::nullopt;
}

QString PendingSources::refusal(const QString& name, const Clash& clash) {
    switch (clash.relation) {
    case Relation::same:
        return QStringLiteral("Cannot replace \"%1\": it is one of the items being transferred").arg(name);
    case Relation::inside:
        return QStringLiteral(
                   "Cannot replace \"%1\": it is inside \"%2\", one of the items being transferred")
            .arg(name, clash.source);
    case Relation::holds:
        return QStringLiteral("Cannot replace \"%1\": it holds \"%2\", one of the items being transferred")
            .arg(name, clash.source);
    }
    return {};
}
