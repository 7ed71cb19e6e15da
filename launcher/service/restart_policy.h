// The service host's restart policy: what it does when the child ends without a stop request. Off
// unless the payload sets one; then a child that ends with an exit code counted as success ends the
// service, and any other end is followed by a restart after a delay that doubles with each further
// failure, up to a number of restarts within a sliding time window, past which the host gives up.
#pragma once

#include <windows.h>

#include <deque>
#include <optional>
#include <vector>

namespace morix {

struct RestartPolicy {
    DWORD delayMs = 0;
    DWORD maxDelayMs = 0;
    size_t limit = 0;
    ULONGLONG windowMs = 0;
    std::vector<DWORD> successCodes;
};

// The policy the payload configures, or none (the host then ends with its child, as it always did).
std::optional<RestartPolicy> readRestartPolicy();

enum class ChildEndAction { EndService, Restart, GiveUp };

struct RestartDecision {
    ChildEndAction action = ChildEndAction::EndService;
    DWORD delayMs = 0;
    // The restart's number within the window (1 for the first), or the restarts made when giving up.
    size_t attempt = 0;
};

// The restarts made so far, by the time each was decided (GetTickCount64 milliseconds).
class RestartTracker {
public:
    explicit RestartTracker(RestartPolicy policy) : policy_(std::move(policy)) {}
    // What to do about a child that ended by itself with exitCode at `now`.
    RestartDecision childEnded(DWORD exitCode, ULONGLONG now);
    // What to do about a child that could not be started at `now`: a failure whatever the success codes.
    RestartDecision childFailed(ULONGLONG now);
    bool isSuccess(DWORD exitCode) const;
    const RestartPolicy& policy() const { return policy_; }

private:
    RestartPolicy policy_;
    std::deque<ULONGLONG> restarts_;
};

} // namespace morix
