#include "StallStacks.h"

#include <QScopeGuard>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>
#include <thread>
#include <time.h>

namespace bench {
namespace {

constexpr int depth = 48;
constexpr int sampleSlots = 512;

struct Sample {
    void* frames[depth];
    int count = 0;
};

Sample samples[sampleSlots];
std::atomic<int> taken{0};
std::atomic<long long> lastTick{0};
pthread_t mainThread;

long long nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

void onSignal(int) {
    const int slot = taken.load(std::memory_order_relaxed);
    if (slot >= sampleSlots)
        return;
    samples[slot].count = ::backtrace(samples[slot].frames, depth);
    taken.store(slot + 1, std::memory_order_release);
}

void dump(long long stalledNs) {
    // Printing can last longer than a stall: no sample may be written over while it is read.
    sigset_t profiling;
    sigemptyset(&profiling);
    sigaddset(&profiling, SIGPROF);
    ::pthread_sigmask(SIG_BLOCK, &profiling, nullptr);
    const auto unblock = qScopeGuard([&profiling] { ::pthread_sigmask(SIG_UNBLOCK, &profiling, nullptr); });
    const int count = taken.load();
    std::fprintf(stderr, "STALL %.1f ms, %d samples\n", double(stalledNs) / 1e6, count);
    for (int i = 0; i < count; ++i) {
        std::fprintf(stderr, "SAMPLE\n");
        for (int f = 2; f < samples[i].count; ++f) {
            Dl_info info{};
            if (::dladdr(samples[i].frames[f], &info) && info.dli_fname)
                std::fprintf(stderr, "  %s 0x%lx\n", info.dli_fname,
                             (unsigned long)((char*)samples[i].frames[f] - (char*)info.dli_fbase - 1));
            else
                std::fprintf(stderr, "  ? %p\n", samples[i].frames[f]);
        }
    }
    taken.store(0);
}

} // namespace

void startStallStacksIfAsked() {
    static bool started = false;
    const char* asked = std::getenv("ORVANTA_BENCH_STALL_STACKS");
    if (started || !asked)
        return;
    started = true;
    const long long thresholdNs = std::atoll(asked) * 1000000LL;
    mainThread = ::pthread_self();
    void* warm[4];
    ::backtrace(warm, 4); // loads the unwinder before any signal needs it
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPROF, &action, nullptr);
    lastTick = nowNs();
    auto* ticker = new QTimer;
    ticker->setInterval(1);
    ticker->setTimerType(Qt::PreciseTimer);
    QObject::connect(ticker, &QTimer::timeout, [] {
        const long long now = nowNs();
        const long long last = lastTick.exchange(now);
        if (taken.load() > 0)
            dump(now - last);
    });
    ticker->start();
    std::thread([thresholdNs] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (nowNs() - lastTick.load() > thresholdNs)
                ::pthread_kill(mainThread, SIGPROF);
        }
    }).detach();
}

} // namespace bench
