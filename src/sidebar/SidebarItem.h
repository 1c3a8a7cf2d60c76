#pragma once

#include "models/AppInfo.h"
#include "models/iOSDevice.h"
#include "platform/URL.h"

#include <QIcon>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <vector>

// One row of the sidebar: a section header, a device, a folder bookmark, a favourite, a device's
// Apps folder or one app. The kind and its payload decide the title, the symbol and the location
// the row leads to. Items are plain values once the sidebar has filled them: they never talk to a
// device, and a rebuilt section makes new ones instead of changing the old.
class SidebarItem {
public:
    enum class Kind { header, device, favorite, deviceBookmark, appsFolder, appItem };

    struct Symbol {
        QString name;
        QString accessibilityDescription;
        bool operator==(const Symbol&) const = default;
    };

    static std::shared_ptr<SidebarItem> header(QString title);
    static std::shared_ptr<SidebarItem> device(iOSDevice device);
    // favoriteId: the stored favourite the row shows, so that the row can remove it; none for a
    // row that only looks like one ("No devices").
    static std::shared_ptr<SidebarItem> favorite(QString name, URL path,
                                                 std::optional<QUuid> favoriteId = {});
    static std::shared_ptr<SidebarItem> deviceBookmark(QString name, URL path,
                                                       std::optional<Symbol> iconOverride = {});
    static std::shared_ptr<SidebarItem> appsFolder(QString udid);
    static std::shared_ptr<SidebarItem> appItem(AppInfo app, QString udid);

    Kind kind() const { return m_kind; }
    QString title() const;
    // The kind's symbol; none for a header. Whoever shows the row prefers iconOverride.
    std::optional<Symbol> icon() const;
    const std::optional<Symbol>& iconOverride() const { return m_iconOverride; }
    // The symbol a row shows: the override when there is one.
    std::optional<Symbol> shownSymbol() const { return m_iconOverride ? m_iconOverride : icon(); }
    // Where the row leads; none for headers and Apps folders.
    std::optional<URL> url() const;

    const std::optional<iOSDevice>& deviceRecord() const { return m_device; }
    const std::optional<AppInfo>& app() const { return m_app; }
    const QString& udid() const { return m_udid; }
    const std::optional<QUuid>& favoriteId() const { return m_favoriteId; }

    // False when the location cannot be reached now (a favourite on a device that is not attached).
    bool isAvailable() const { return m_isAvailable; }
    void setAvailable(bool available) { m_isAvailable = available; }

    // An Apps row's listing: not tried since it last opened, running, or tried (it then stays as it
    // is until the row is closed and opened again).
    enum class AppsListing { idle, running, tried };
    AppsListing appsListing() const { return m_appsListing; }
    void setAppsListing(AppsListing state) { m_appsListing = state; }

    const std::vector<std::shared_ptr<SidebarItem>>& children() const { return m_children; }
    SidebarItem* parent() const { return m_parent; }
    // Replaces the rows below this one; they take this row as their parent.
    void setChildren(std::vector<std::shared_ptr<SidebarItem>> children);
    void insertChild(size_t index, std::shared_ptr<SidebarItem> child);
    // Position among the parent's children (or in a root list); -1 when not found.
    static int indexIn(const std::vector<std::shared_ptr<SidebarItem>>& list, const SidebarItem* item);

    // A row that outlives its parent (an Apps row whose listing is still running) must not point at it.
    ~SidebarItem();
    SidebarItem(const SidebarItem&) = delete;
    SidebarItem& operator=(const SidebarItem&) = delete;

private:
    explicit SidebarItem(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    QString m_name;
    URL m_path;
    QString m_udid;
    std::optional<iOSDevice> m_device;
    std::optional<AppInfo> m_app;
    std::optional<QUuid> m_favoriteId;
    std::optional<Symbol> m_iconOverride;
    bool m_isAvailable = true;
    AppsListing m_appsListing = AppsListing::idle;
    std::vector<std::shared_ptr<SidebarItem>> m_children;
    SidebarItem* m_parent = nullptr;
};
