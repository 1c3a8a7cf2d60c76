#pragma once

// The handle of one subscription to an Observable: the subscription lasts exactly as long as
// this object, so an owner that keeps its subscriptions as members stops hearing changes when it
// is destroyed (RAII, movable, not copyable).

#include <functional>

class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel);
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();

    // Ends the subscription now; no delivery reaches the subscriber after this returns, also
    // not one that was already queued.
    void cancel();
    bool isActive() const { return static_cast<bool>(m_cancel); }

private:
    std::function<void()> m_cancel;
};
