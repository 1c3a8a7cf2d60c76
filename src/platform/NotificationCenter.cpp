#include "platform/NotificationCenter.h"

#include "platform/async/MainThread.h"

#include <QtGlobal>

#include <algorithm>

NotificationCenter::NotificationCenter() : m_core(std::make_shared<Core>()) {}

NotificationCenter::~NotificationCenter() {
    for (const auto& entry : m_core->entries)
        entry->active = false;
}

NotificationCenter& NotificationCenter::defaultCenter() {
    // Leaked on purpose: observers in other static objects may end their subscriptions at exit.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

Subscription NotificationCenter::observe(QString name, Observer observer) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->observer = std::move(observer);
    m_core->entries.push_back(entry);
    std::weak_ptr<Core> weakCore = m_core;
    return Subscription([weakCore, entry] {
        entry->active = false;
        if (auto core = weakCore.lock())
            std::erase(core->entries, entry);
    });
}

void NotificationCenter::post(Notification notification) {
    Q_ASSERT(async::isMainThread());
    // Observers may come and go while they are told.
    const auto entries = m_core->entries;
    for (const auto& entry : entries) {
        if (entry->active && entry->name == notification.name)
            entry->observer(notification);
    }
}
