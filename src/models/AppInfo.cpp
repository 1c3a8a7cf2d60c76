#include "models/AppInfo.h"

#include <QHashFunctions>

AppInfo::AppInfo(QString id, QString bundleID, QString displayName)
    : m_id(std::move(id)), m_bundleID(std::move(bundleID)), m_displayName(std::move(displayName)) {}

size_t qHash(const AppInfo& app, size_t seed) {
    return qHashMulti(seed, app.id(), app.bundleID(), app.displayName());
}
