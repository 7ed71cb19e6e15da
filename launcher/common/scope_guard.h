// Runs a piece of cleanup when the scope ends, for the one-off state that has no owner type of its own.
#pragma once

#include <utility>

namespace morix {

template <typename Cleanup>
class ScopeGuard {
public:
    explicit ScopeGuard(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
    ~ScopeGuard() { cleanup_(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    Cleanup cleanup_;
};

} // namespace morix
