// Ending a subscription is whatever its observable said it is; this class only makes it RAII.

#include "platform/Subscription.h"

#include <utility>

Subscription::Subscription(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}

Subscription::Subscription(Subscription&& other) noexcept
    : m_cancel(std::exchange(other.m_cancel, nullptr)) {}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        m_cancel = std::exchange(other.m_cancel, nullptr);
    }
    return *this;
}

Subscription::~Subscription() {
    cancel();
}

void Subscription::cancel() {
    if (auto cancel = std::exchange(m_cancel, nullptr)) {
        cancel();
    }
}
