#pragma once

#include <QString>

#include <functional>

// An app on a device whose documents container can be browsed.
class AppInfo {
public:
    AppInfo(QString id, QString bundleID, QString displayName);

    const QString& id() const { return m_id; }
    const QString& bundleID() const { return m_bundleID; }
    const QString& displayName() const { return m_displayName; }

    bool operator==(const AppInfo&) const = default;

private:
    QString m_id;
    QString m_bundleID;
    QString m_displayName;
};

size_t qHash(const AppInfo& app, size_t seed = 0);

template <> struct std::hash<AppInfo> {
    size_t operator()(const AppInfo& app) const noexcept { return qHash(app); }
};
