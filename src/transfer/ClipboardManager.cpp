#include "transfer/ClipboardManager.h"

#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Outcome.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

#include <algorithm>
#include <functional>
#include <string_view>

ClipboardManager::ClipboardManager(std::shared_ptr<TransferManager> transferManager,
                                   std::shared_ptr<FileSystemProvider> fileSystemProvider)
    : m_transferManager(std::move(transferManager)), m_fileSystemProvider(std::move(fileSystemProvider)) {
    // Read at the change, so that no question of the menus pays for it.
    m_itemsWatch = items.subscribe([this](const QList<FileItem>&) { factsFor(items.value()); });
}

ClipboardManager::~ClipboardManager() = default;

QSet<URL> ClipboardManager::cutItemURLs() const {
    QSet<URL> urls;
    if (mode.value() != Mode::cut)
        return urls;
    for (const FileItem& item : items.value())
        urls.insert(item.path());
    return urls;
}

namespace {

std::size_t fingerprint(const URL::Location& place, QStringView path) {
    const auto hash = [](QStringView text) {
        return std::hash<std::u16string_view>{}(std::u16string_view(text.utf16(), size_t(text.size())));
    };
    std::size_t seed = hash(place.scheme);
    for (const QStringView part : {QStringView(place.host), path})
        seed ^= hash(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

} // namespace

const ClipboardManager::PasteFacts& ClipboardManager::factsFor(const QList<FileItem>& current) const {
    if (current.size() == m_facts.items.size() && current.constData() == m_facts.items.constData())
        return m_facts;
    m_lastAnswer.reset();
    m_facts = PasteFacts{current, {}};
    m_facts.marks.reserve(size_t(current.size()));
    for (qsizetype index = 0; index < current.size(); ++index) {
        ++m_itemLocationsRead;
        const FileItem& item = current.at(index);
        const URL::Location at = item.path().location();
        m_facts.marks.push_back({fingerprint(at, at.path), quint32(index), false});
        // A folder pasted below itself, by copy or by move, would copy itself without end.
        if (item.isDirectory())
            m_facts.marks.push_back({fingerprint(at, at.insidePrefix()), quint32(index), true});
    }
    std::sort(m_facts.marks.begin(), m_facts.marks.end(),
              [](const Mark& a, const Mark& b) { return a.fingerprint < b.fingerprint; });
    return m_facts;
}

// Whether an item's location (or a folder item's inside prefix) is path at the destination's
// scheme and host.
bool ClipboardManager::holds(const PasteFacts& facts, const URL::Location& destination, QStringView path,
                             bool folderPrefix) const {
    const Mark key{fingerprint(destination, path), 0, false};
    const auto [first, last] =
        std::equal_range(facts.marks.begin(), facts.marks.end(), key,
                         [](const Mark& a, const Mark& b) { return a.fingerprint < b.fingerprint; });
    for (auto mark = first; mark != last; ++mark) {
        if (mark->folderPrefix != folderPrefix)
            continue;
        ++m_itemLocationsRead;
        const URL::Location at = facts.items.at(mark->index).path().location();
        if (at.scheme == destination.scheme && at.host == destination.host &&
            (folderPrefix ? at.insidePrefix() : at.path) == path)
            return true;
    }
    return false;
}

// Compared as locations, so "/A/B/" is /A/B; only the same scheme and device can clash. The
// destination lies inside a folder item when its path, longer than the folder's inside prefix,
// begins with it: one of the destination's own prefixes that end in "/".
bool ClipboardManager::allows(const PasteFacts& facts, const URL::Location& destination) const {
    if (holds(facts, destination, destination.path, false))
        return false;
    const QString& path = destination.path;
    for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash >= 0 && slash + 1 < path.size();
         slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
        if (holds(facts, destination, QStringView(path).left(slash + 1), true))
            return false;
    }
    return true;
}

bool ClipboardManager::canPaste(const URL& destination) const {
    const PasteFacts& facts = factsFor(items.value());
    if (facts.items.isEmpty())
        return false;
    if (!m_lastAnswer || m_lastAnswer->first != destination)
        m_lastAnswer.emplace(destination, allows(facts, destination.location()));
    return m_lastAnswer->second;
}

async::Task<bool> ClipboardManager::paste(URL destination) {
    if (!canPaste(destination))
        co_return false;
    const std::weak_ptr<const bool> alive = m_alive;
    const QList<FileItem> pasted = items.value();
    const Mode pastedMode = mode.value();
    const std::shared_ptr<TransferManager> manager = m_transferManager;
    const std::shared_ptr<FileSystemProvider> provider = m_fileSystemProvider;

    std::exception_ptr failure;
    if (pastedMode == Mode::copy) {
        async::Task<void> copying = manager->transferAndAwait(pasted, destination, std::nullopt);
        async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
        failure = copied.error();
    } else {
        async::Task<void> moving = manager->moveItems(pasted, destination);
        async::detail::Outcome<void> moved = co_await async::detail::settle(std::move(moving));
        failure = moved.error();
    }
    if (failure) {
        Logger::ui().error("Paste failed: %s", async::describeException(failure));
        co_return false;
    }
    if (alive.expired())
        co_return false;
    // Items put on the clipboard during the move are not the ones that moved: they stay.
    if (pastedMode == Mode::cut && items.value() == pasted && mode.value() == Mode::cut) {
        items = QList<FileItem>{};
        mode = Mode::copy;
    }
    if (provider)
        provider->invalidateCache();
    // The browsers hear the default centre: a manager that posts elsewhere told them nothing.
    const bool announced = pastedMode == Mode::copy && destination.scheme() == QLatin1String("afc") &&
                           manager && &manager->notificationCenter() == &NotificationCenter::defaultCenter();
    co_return announced;
}
