#pragma once

#include <stop_token>

class UiTimerSource;

// Whose a request is, and what its cancel does. A request cancelled before the device got it
// never reaches the device when it may be dropped; one the device got is given the grace
// (AFCBridge::cancelGrace) from that moment, and only when the device still holds that very
// request afterwards is its own connection cut. Every other request, queued behind it or not,
// is left alone, and what is queued on the cut session goes on over a new one.
struct AFCRequest {
    // The caller's own cancel (a copy given a token), its grace timed by the system's timers.
    std::stop_token cancel;
    // The transfer a view of the bridge makes its requests for (see AFCBridge::forRequestsOf),
    // its grace timed by ownerTimers; none without them.
    std::stop_token owner;
    UiTimerSource* ownerTimers = nullptr;
    // A read or a copy, which changes nothing on the device until it runs: dropped when
    // cancelled before it was sent. A step that changes the device (a rename, a removal, a
    // put-back) runs all the same: the cancel's clean-up may count on it.
    bool droppable = false;
    // Set as the request is queued: whether it was made after its cancel (the cancel's own
    // clean-up), which is never dropped.
    bool madeAfterCancel = false;

    bool hasOwner() const { return ownerTimers && owner.stop_possible(); }
};
