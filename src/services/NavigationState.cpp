#include "services/NavigationState.h"

#include "platform/Logger.h"
#include "services/PreferencesViewController.h"

#include <QStringList>
#include <QVariantList>

NavigationState::NavigationState() : NavigationState(PreferencesViewController::defaults()) {}

NavigationState::NavigationState(UserDefaults& defaults) : m_defaults(defaults) {
    loadRecentPaths();
}

void NavigationState::loadRecentPaths() {
    const std::optional<QVariantList> stored = m_defaults.arrayForKey(recentPathsKey);
    if (!stored)
        return;
    // Damaged entries (not text, or text that is no location) are left out one by one: the
    // readable rest of the user's recent folders stays.
    QList<URL> paths;
    paths.reserve(stored->size());
    for (const QVariant& element : *stored) {
        std::optional<URL> url;
        if (element.typeId() == QMetaType::QString)
            url = URL::fromString(element.toString());
        if (url)
            paths.append(*url);
        else
            Logger::ui().error("Skipped unreadable recent folder entry in %s", QString(recentPathsKey));
    }
    // Not trimmed here: a longer list stored by someone else is cut at the next addition.
    recentPaths = std::move(paths);
}

void NavigationState::navigate(URL to) {
    if (const std::optional<URL>& current = currentPath.value())
        m_backStack.append(*current);
    m_forwardStack.clear();
    show(to);
}

void NavigationState::goBack() {
    step(m_backStack, m_forwardStack);
}

void NavigationState::goForward() {
    step(m_forwardStack, m_backStack);
}

void NavigationState::step(QList<URL>& from, QList<URL>& to) {
    if (from.isEmpty())
        return;
    const URL target = from.takeLast();
    if (const std::optional<URL>& current = currentPath.value())
        to.append(*current);
    show(target);
}

void NavigationState::show(const URL& url) {
    currentPath = url;
    selectedItems = QSet<FileItem>();
    searchQuery = QString();
    addRecentPath(url);
}

void NavigationState::addRecentPath(URL url) {
    // Up to three assignments: without the folder, with it in front, and trimmed when the list
    // grew past its bound. Subscribers get the final list last.
    QList<URL> paths = recentPaths.value();
    paths.removeIf([&url](const URL& path) { return path.absoluteString() == url.absoluteString(); });
    recentPaths = paths;
    paths.prepend(url);
    recentPaths = paths;
    if (paths.size() > maximumRecentPaths) {
        paths.resize(maximumRecentPaths);
        recentPaths = paths;
    }

    QVariantList stored;
    stored.reserve(paths.size());
    for (const URL& path : paths)
        stored.append(path.absoluteString());
    m_defaults.set(recentPathsKey, stored);
}
