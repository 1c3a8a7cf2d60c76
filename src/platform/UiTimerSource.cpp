// The system source keeps its pending timers on one QObject rather than a QTimer each: a timer
// may be cancelled from inside its own callback (a debounce restarting itself), and deleting a
// QTimer while it emits is not safe.

#include "platform/UiTimerSource.h"

#include "platform/async/MainThread.h"
#include "platform/async/SystemContinuousClock.h"
#include "platform/async/TimerInterval.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>

#include <unordered_map>
#include <utility>

namespace {

class TimerHost final : public QObject {
public:
    // Handles are our own numbers: re-arming an early timer gives it a new Qt timer id.
    quint64 start(UiTimerSource::Instant deadline, std::function<void()> fire) {
        const quint64 handle = ++m_lastHandle;
        const int timerId = arm(deadline);
        m_pending.emplace(handle, Pending{deadline, std::move(fire), timerId});
        m_handles.emplace(timerId, handle);
        return handle;
    }

    void cancel(quint64 handle) {
        auto found = m_pending.find(handle);
        if (found == m_pending.end()) {
            return;
        }
        killTimer(found->second.timerId);
        m_handles.erase(found->second.timerId);
        m_pending.erase(found);
    }

protected:
    void timerEvent(QTimerEvent* event) override {
        const int timerId = event->timerId();
        killTimer(timerId);
        auto handle = m_handles.find(timerId);
        if (handle == m_handles.end()) {
            return;
        }
        auto found = m_pending.find(handle->second);
        m_handles.erase(handle);
        if (found == m_pending.end()) {
            return;
        }
        // A timer may fire a little early against the steady clock, and one timer interval
        // cannot span the longest delays: arm again for what remains.
        if (async::SystemContinuousClock::shared().now() < found->second.deadline) {
            found->second.timerId = arm(found->second.deadline);
            m_handles.emplace(found->second.timerId, found->first);
            return;
        }
        auto fire = std::move(found->second.fire);
        m_pending.erase(found);
        fire();
    }

private:
    struct Pending {
        UiTimerSource::Instant deadline;
        std::function<void()> fire;
        int timerId = 0;
    };

    int arm(UiTimerSource::Instant deadline) {
        const auto remaining = deadline - async::SystemContinuousClock::shared().now();
        return startTimer(async::timerInterval(remaining), Qt::PreciseTimer);
    }

    quint64 m_lastHandle = 0;
    std::unordered_map<quint64, Pending> m_pending;
    std::unordered_map<int, quint64> m_handles;
};

class SystemUiTimerSource final : public UiTimerSource {
public:
    // Made by whichever thread asks first, which may be a worker arming a grace for later: the
    // timers are the main thread's all the same.
    SystemUiTimerSource() {
        if (const QCoreApplication* app = QCoreApplication::instance())
            m_host.moveToThread(app->thread());
    }

    Instant now() const override { return async::SystemContinuousClock::shared().now(); }

    Subscription singleShot(Duration delay, std::function<void()> fire) override {
        Q_ASSERT(async::isMainThread());
        const Instant deadline = async::saturatedDeadline(now(), std::max(delay, Duration(0)));
        const quint64 handle = m_host.start(deadline, std::move(fire));
        return Subscription([this, handle] { m_host.cancel(handle); });
    }

private:
    TimerHost m_host;
};

} // namespace

UiTimerSource& UiTimerSource::system() {
    // Never destroyed: handles may be released during static destruction, after the event
    // dispatcher is gone, when killing a timer would no longer be possible.
    static auto* source = new SystemUiTimerSource;
    return *source;
}
