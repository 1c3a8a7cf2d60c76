#pragma once

// Where the main thread spends a stall: with ORVANTA_BENCH_STALL_STACKS=<ms> set, a watcher
// thread interrupts the main thread every two milliseconds once it has not ticked for that long,
// and each interruption records the main thread's call stack. When the stall ends, its samples
// go to standard error as module+offset addresses, for addr2line (bench/support/stall-stacks
// turns them into names). Diagnosis only: the measurements of a run that records are not kept.

namespace bench {

// Starts the ticking and the watcher once, when asked for by the environment.
void startStallStacksIfAsked();

} // namespace bench
