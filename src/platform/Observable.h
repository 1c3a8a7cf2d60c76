#pragma once

// A published property: every assignment notifies the subscribers, also when the new value
// equals the old one, and a new subscriber hears the current value at once. Assignments happen
// on the main thread only. Delivery is either direct (inside the assignment) or queued (posted
// to the main loop, for subscribers that must not run inside the assigner's call).
//
// Ordering: a subscriber may assign to the same observable while it is being notified. The
// nested assignment does not notify from inside the running notification; it is queued and
// delivered once every subscriber has had the current value. So every subscriber sees the
// values in assignment order, and the last value any subscriber sees is the last one assigned.
// A subscriber that joins during a notification starts with the newest value and then only hears
// later assignments. value() is always the last value assigned.
//
// A subscription ends when its Subscription is destroyed or cancelled; from then on nothing is
// delivered to it, also not a queued delivery already on its way. Ending a subscription (its own
// or another's) from inside a notification is safe.

#include "platform/Subscription.h"
#include "platform/async/MainThread.h"

#include <QtGlobal>

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

enum class Delivery { Direct, Queued };

template <typename T> class Observable {
public:
    using Handler = std::function<void(const T&)>;

    explicit Observable(T initial = T{}) : m_core(std::make_shared<Core>()) {
        m_core->value = std::move(initial);
    }
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;
    ~Observable() {
        for (const auto& entry : m_core->entries) {
            entry->active = false;
        }
    }

    const T& value() const { return m_core->value; }

    Observable& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    void set(T value) {
        Q_ASSERT(async::isMainThread());
        auto core = m_core; // a subscriber may destroy this observable while it is notified
        core->value = value;
        core->pending.emplace_back(++core->lastSequence, std::move(value));
        if (core->notifying) {
            return;
        }
        core->notifying = true;
        struct Reset {
            Core& core;
            ~Reset() { core.notifying = false; }
        } reset{*core};
        while (!core->pending.empty()) {
            auto [sequence, current] = std::move(core->pending.front());
            core->pending.pop_front();
            const auto entries = core->entries; // subscribers may come and go while we deliver
            for (const auto& entry : entries) {
                if (entry->active && sequence >= entry->firstSequence) {
                    deliver(entry, current);
                }
            }
        }
    }

    [[nodiscard]] Subscription subscribe(Handler handler, Delivery delivery = Delivery::Direct) {
        auto entry = std::make_shared<Entry>();
        entry->handler = std::move(handler);
        entry->delivery = delivery;
        entry->firstSequence = m_core->lastSequence + 1;
        m_core->entries.push_back(entry);
        std::weak_ptr<Core> weakCore = m_core;
        Subscription subscription([weakCore, entry] {
            entry->active = false;
            if (auto core = weakCore.lock()) {
                std::erase(core->entries, entry);
            }
        });
        deliver(entry, m_core->value);
        return subscription;
    }

    int subscriberCount() const { return int(m_core->entries.size()); }

private:
    struct Entry {
        Handler handler;
        Delivery delivery = Delivery::Direct;
        quint64 firstSequence = 0;
        bool active = true;
    };

    struct Core {
        T value;
        quint64 lastSequence = 0;
        std::vector<std::shared_ptr<Entry>> entries;
        std::deque<std::pair<quint64, T>> pending;
        bool notifying = false;
    };

    static void deliver(const std::shared_ptr<Entry>& entry, const T& value) {
        if (entry->delivery == Delivery::Direct) {
            entry->handler(value);
            return;
        }
        async::postToMain([weakEntry = std::weak_ptr<Entry>(entry), value] {
            auto entry = weakEntry.lock();
            if (entry && entry->active) {
                entry->handler(value);
            }
        });
    }

    std::shared_ptr<Core> m_core;
};
