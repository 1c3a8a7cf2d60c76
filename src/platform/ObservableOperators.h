#pragma once

// Operators over published values, for views that want a value shaped, filtered or slowed down
// before they show it. A Publisher<T> describes a stream of values; nothing runs until it is
// subscribed, and each subscription builds its own chain of operator state, which lives exactly
// as long as the returned Subscription. An Observable converts to a Publisher that hears its
// current value first and then every assignment.
//
//   m_progress = throttleLatest(transfers.activeTransfers, timers)
//                    .subscribe([this](const QList<Transfer>& list) { show(list); }, Delivery::Queued);
//
// Inside a chain every step is direct; the Delivery given to the final subscribe() decides
// whether the handler runs inside the assignment or on a later turn of the main loop. Queued
// delivery never coalesces: each value that leaves the chain reaches the handler, and none after
// the subscription has ended. Everything runs on the main thread.
//
// The time-based operators take their timers from a UiTimerSource, which must outlive every
// subscription made through them; a subscription that ends cancels its pending timer.

#include "platform/Observable.h"
#include "platform/Subscription.h"
#include "platform/UiTimerSource.h"
#include "platform/async/MainThread.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

template <typename T> class Publisher {
public:
    using Value = T;
    using Handler = std::function<void(const T&)>;
    using SubscribeFunction = std::function<Subscription(Handler)>;

    explicit Publisher(SubscribeFunction subscribe) : m_subscribe(std::move(subscribe)) {}

    // Implicit, so that an observable can stand wherever a publisher is taken. The observable
    // must outlive this publisher's subscribe() calls (not the subscriptions they return).
    Publisher(Observable<T>& source)
        : m_subscribe([&source](Handler handler) { return source.subscribe(std::move(handler)); }) {}

    [[nodiscard]] Subscription subscribe(Handler handler, Delivery delivery = Delivery::Direct) const {
        if (delivery == Delivery::Direct) {
            return m_subscribe(std::move(handler));
        }
        // The flag is checked when the posted delivery runs, so that ending the subscription
        // also drops what was already on its way.
        auto active = std::make_shared<bool>(true);
        auto upstream = std::make_shared<Subscription>(
            m_subscribe([active, handler = std::move(handler)](const T& value) {
                async::postToMain([active, handler, value] {
                    if (*active) {
                        handler(value);
                    }
                });
            }));
        return Subscription([active, upstream] {
            *active = false;
            upstream->cancel();
        });
    }

private:
    SubscribeFunction m_subscribe;
};

namespace observable_detail {

template <typename T> Publisher<T> asPublisher(Observable<T>& source) {
    return Publisher<T>(source);
}
template <typename T> Publisher<T> asPublisher(Publisher<T> source) {
    return source;
}

template <typename Source> using ValueOf = typename decltype(asPublisher(std::declval<Source&>()))::Value;

// Operator state shared by the upstream handler, the timers and the subscription handle. The
// handle clears `active` first, so a value or timer already under way delivers nothing more.
template <typename T> struct Downstream {
    std::function<void(const T&)> handler;
    bool active = true;

    void send(const T& value) const {
        if (active) {
            handler(value);
        }
    }
};

inline Subscription chain(std::shared_ptr<bool> active, Subscription upstream,
                          std::function<void()> alsoOnEnd = {}) {
    auto held = std::make_shared<Subscription>(std::move(upstream));
    return Subscription([active = std::move(active), held, alsoOnEnd = std::move(alsoOnEnd)] {
        *active = false;
        if (alsoOnEnd) {
            alsoOnEnd();
        }
        held->cancel();
    });
}

} // namespace observable_detail

// Each value transformed by transform.
template <typename Source, typename Transform> auto map(Source&& source, Transform transform) {
    using In = observable_detail::ValueOf<Source>;
    using Out = std::decay_t<std::invoke_result_t<Transform&, const In&>>;
    auto upstream = observable_detail::asPublisher(source);
    return Publisher<Out>([upstream, transform](std::function<void(const Out&)> handler) {
        return upstream.subscribe([transform, handler = std::move(handler)](const In& value) mutable {
            handler(std::invoke(transform, value));
        });
    });
}

// Only the values for which predicate holds; the current value too.
template <typename Source, typename Predicate> auto filter(Source&& source, Predicate predicate) {
    using T = observable_detail::ValueOf<Source>;
    auto upstream = observable_detail::asPublisher(source);
    return Publisher<T>([upstream, predicate](std::function<void(const T&)> handler) {
        return upstream.subscribe([predicate, handler = std::move(handler)](const T& value) mutable {
            if (std::invoke(predicate, value)) {
                handler(value);
            }
        });
    });
}

// Drops a value equal to the one delivered just before it; the first value always passes.
template <typename Source> auto removeDuplicates(Source&& source) {
    using T = observable_detail::ValueOf<Source>;
    auto upstream = observable_detail::asPublisher(source);
    return Publisher<T>([upstream](std::function<void(const T&)> handler) {
        auto last = std::make_shared<std::optional<T>>();
        return upstream.subscribe([last, handler = std::move(handler)](const T& value) {
            if (*last && **last == value) {
                return;
            }
            *last = value;
            handler(value);
        });
    });
}

// The latest value of each source as a pair, once both have delivered one, and again after
// every later value of either.
template <typename SourceA, typename SourceB> auto combineLatest(SourceA&& a, SourceB&& b) {
    using A = observable_detail::ValueOf<SourceA>;
    using B = observable_detail::ValueOf<SourceB>;
    using Out = std::pair<A, B>;
    auto first = observable_detail::asPublisher(a);
    auto second = observable_detail::asPublisher(b);
    return Publisher<Out>([first, second](std::function<void(const Out&)> handler) {
        struct State {
            std::optional<A> a;
            std::optional<B> b;
            observable_detail::Downstream<Out> downstream;
            void sendIfComplete() {
                if (a && b) {
                    downstream.send(Out(*a, *b));
                }
            }
        };
        auto state = std::make_shared<State>();
        state->downstream.handler = std::move(handler);
        auto firstSubscription = std::make_shared<Subscription>(first.subscribe([state](const A& value) {
            state->a = value;
            state->sendIfComplete();
        }));
        auto secondSubscription = second.subscribe([state](const B& value) {
            state->b = value;
            state->sendIfComplete();
        });
        auto active = std::shared_ptr<bool>(state, &state->downstream.active);
        return observable_detail::chain(active, std::move(secondSubscription),
                                        [firstSubscription] { firstSubscription->cancel(); });
    });
}

// The latest value once no new one has come for interval; every value waits, the current one too.
template <typename Source>
auto debounce(Source&& source, UiTimerSource& timers,
              UiTimerSource::Duration interval = std::chrono::milliseconds(50)) {
    using T = observable_detail::ValueOf<Source>;
    auto upstream = observable_detail::asPublisher(source);
    return Publisher<T>([upstream, &timers, interval](std::function<void(const T&)> handler) {
        struct State {
            std::optional<T> latest;
            Subscription timer;
            observable_detail::Downstream<T> downstream;
        };
        auto state = std::make_shared<State>();
        state->downstream.handler = std::move(handler);
        std::weak_ptr<State> weakState = state;
        auto subscription = upstream.subscribe([weakState, &timers, interval](const T& value) {
            auto state = weakState.lock();
            if (!state || !state->downstream.active) {
                return;
            }
            state->latest = value;
            state->timer = timers.singleShot(interval, [weakState] {
                auto state = weakState.lock();
                if (state && state->latest) {
                    T value = std::move(*state->latest);
                    state->latest.reset();
                    state->downstream.send(value);
                }
            });
        });
        auto active = std::shared_ptr<bool>(state, &state->downstream.active);
        return observable_detail::chain(active, std::move(subscription), [state] { state->timer.cancel(); });
    });
}

// At most one value per interval, leading and trailing: a value that comes while no interval is
// running goes out at once and starts one; of the values that come during an interval, the
// latest goes out when it ends (and starts the next). The last value always goes out, however
// quickly values follow one another: a view never stays on a stale value.
template <typename Source>
auto throttleLatest(Source&& source, UiTimerSource& timers,
                    UiTimerSource::Duration interval = std::chrono::milliseconds(100)) {
    using T = observable_detail::ValueOf<Source>;
    auto upstream = observable_detail::asPublisher(source);
    return Publisher<T>([upstream, &timers, interval](std::function<void(const T&)> handler) {
        struct State : std::enable_shared_from_this<State> {
            UiTimerSource* timers = nullptr;
            UiTimerSource::Duration interval{};
            std::optional<T> trailing;
            Subscription window; // active while an interval runs
            observable_detail::Downstream<T> downstream;

            // Opens the interval before sending, so that a value assigned from inside the
            // handler waits for the interval's end instead of overtaking.
            void sendAndOpenWindow(const T& value) {
                window = timers->singleShot(interval, [weakSelf = this->weak_from_this()] {
                    if (auto self = weakSelf.lock()) {
                        self->windowEnded();
                    }
                });
                downstream.send(value);
            }

            void windowEnded() {
                window = Subscription();
                if (trailing && downstream.active) {
                    T value = std::move(*trailing);
                    trailing.reset();
                    sendAndOpenWindow(value);
                }
            }
        };
        auto state = std::make_shared<State>();
        state->timers = &timers;
        state->interval = interval;
        state->downstream.handler = std::move(handler);
        std::weak_ptr<State> weakState = state;
        auto subscription = upstream.subscribe([weakState](const T& value) {
            auto state = weakState.lock();
            if (!state || !state->downstream.active) {
                return;
            }
            if (state->window.isActive()) {
                state->trailing = value;
            } else {
                state->sendAndOpenWindow(value);
            }
        });
        auto active = std::shared_ptr<bool>(state, &state->downstream.active);
        return observable_detail::chain(active, std::move(subscription), [state] {
            state->window.cancel();
            state->trailing.reset();
        });
    });
}
