#include "sidebar/SidebarItem.h"

std::shared_ptr<SidebarItem> SidebarItem::header(QString title) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::header));
    item->m_name = std::move(title);
    return item;
}

std::shared_ptr<SidebarItem> SidebarItem::device(iOSDevice device) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::device));
    item->m_udid = device.udid();
    item->m_device = std::move(device);
    return item;
}

std::shared_ptr<SidebarItem> SidebarItem::favorite(QString name, URL path, std::optional<QUuid> favoriteId) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::favorite));
    item->m_name = std::move(name);
    item->m_path = std::move(path);
    item->m_favoriteId = favoriteId;
    return item;
}

std::shared_ptr<SidebarItem> SidebarItem::deviceBookmark(QString name, URL path,
                                                         std::optional<Symbol> iconOverride) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::deviceBookmark));
    item->m_name = std::move(name);
    item->m_path = std::move(path);
    item->m_iconOverride = std::move(iconOverride);
    return item;
}

std::shared_ptr<SidebarItem> SidebarItem::appsFolder(QString udid) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::appsFolder));
    item->m_udid = std::move(udid);
    return item;
}

std::shared_ptr<SidebarItem> SidebarItem::appItem(AppInfo app, QString udid) {
    std::shared_ptr<SidebarItem> item(new SidebarItem(Kind::appItem));
    item->m_app = std::move(app);
    item->m_udid = std::move(udid);
    return item;
}

QString SidebarItem::title() const {
    switch (m_kind) {
    case Kind::device:
        return m_device->name().isEmpty() ? m_device->model() : m_device->name();
    case Kind::appsFolder:
        return QStringLiteral("Apps");
    case Kind::appItem:
        return m_app->displayName();
    case Kind::header:
    case Kind::favorite:
    case Kind::deviceBookmark:
        break;
    }
    return m_name;
}

std::optional<SidebarItem::Symbol> SidebarItem::icon() const {
    switch (m_kind) {
    case Kind::header:
        return std::nullopt;
    case Kind::device:
        return Symbol{QStringLiteral("iphone"), QStringLiteral("iOS Device")};
    case Kind::favorite:
        return Symbol{QStringLiteral("star.fill"), QStringLiteral("Favorite")};
    case Kind::deviceBookmark:
        return Symbol{QStringLiteral("folder"), QStringLiteral("Folder")};
    case Kind::appsFolder:
        return Symbol{QStringLiteral("square.grid.2x2"), QStringLiteral("Apps")};
    case Kind::appItem:
        return Symbol{QStringLiteral("app"), QStringLiteral("App")};
    }
    return std::nullopt;
}

std::optional<URL> SidebarItem::url() const {
    switch (m_kind) {
    case Kind::device:
        if (m_udid.isEmpty())
            return std::nullopt;
        return URL::fromComponents(QStringLiteral("afc"), m_udid, QStringLiteral("/"));
    case Kind::appItem:
        // A bundle id holding "/" would name some other folder of the device: no location then.
        if (m_udid.isEmpty() || m_app->bundleID().isEmpty() || m_app->bundleID().contains(QLatin1Char('/')))
            return std::nullopt;
        return URL::fromComponents(QStringLiteral("afc"), m_udid,
                                   QStringLiteral("/.app/") + m_app->bundleID() + QLatin1Char('/'));
    case Kind::favorite:
    case Kind::deviceBookmark:
        return m_path;
    case Kind::header:
    case Kind::appsFolder:
        break;
    }
    return std::nullopt;
}

SidebarItem::~SidebarItem() {
    for (const auto& child : m_children) {
        if (child->m_parent == this)
            child->m_parent = nullptr;
    }
}

void SidebarItem::setChildren(std::vector<std::shared_ptr<SidebarItem>> children) {
    for (const auto& child : m_children) {
        if (child->m_parent == this)
            child->m_parent = nullptr;
    }
    m_children = std::move(children);
    for (const auto& child : m_children)
        child->m_parent = this;
}

void SidebarItem::insertChild(size_t index, std::shared_ptr<SidebarItem> child) {
    child->m_parent = this;
    m_children.insert(m_children.begin() + qsizetype(std::min(index, m_children.size())), std::move(child));
}

int SidebarItem::indexIn(const std::vector<std::shared_ptr<SidebarItem>>& list, const SidebarItem* item) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == item)
            return int(i);
    }
    return -1;
}
