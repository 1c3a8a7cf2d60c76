#pragma once

#include "platform/Subscription.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

// A posted event: a name, and what the poster attaches under keys of its own.
struct Notification {
    QString name;
    QVariantMap userInfo;
};

// Broadcasts named events to whoever observes that name, as the platform's notification centre
// does: the poster does not know its observers (the transfer engine tells the browsers to list
// their folders again without knowing that browsers exist). Main thread only; observers are
// called inside post(), in the order they started observing. An observation lasts as long as
// its Subscription.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The one centre of the process.
    static NotificationCenter& defaultCenter();

    [[nodiscard]] Subscription observe(QString name, Observer observer);
    void post(Notification notification);

private:
    struct Entry {
        QString name;
        Observer observer;
        bool active = true;
    };
    struct Core {
        std::vector<std::shared_ptr<Entry>> entries;
    };
    std::shared_ptr<Core> m_core;
};
