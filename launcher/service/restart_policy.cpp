#include "service/restart_policy.h"

#include "config/payload.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace morix {
namespace {

// A whole decimal number within the bounds, or none.
std::optional<ULONGLONG> boundedNumber(std::string_view text, ULONGLONG min, ULONGLONG max) {
    ULONGLONG value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<ULONGLONG> configuredNumber(int32_t id, ULONGLONG fallback, ULONGLONG min, ULONGLONG max) {
    if (!configStrings.count(id)) {
        return fallback;
    }
    const std::string text = getConfigString(id, 32);
    std::optional<ULONGLONG> value = boundedNumber(text, min, max);
    if (!value) {
        logError(L"the restart setting %d is \"%S\", not a number from %lu to %lu", static_cast<int>(id),
                 text.c_str(), static_cast<unsigned long>(min), static_cast<unsigned long>(max));
    }
    return value;
}

std::optional<std::vector<DWORD>> configuredSuccessCodes() {
    if (!configStrings.count(ids::kServiceRestartSuccessCodes)) {
        return std::vector<DWORD>{0};
    }
    const std::string text = getConfigString(ids::kServiceRestartSuccessCodes, 1024);
    std::vector<DWORD> codes;
    std::string_view rest = text;
    while (!rest.empty() && codes.size() < service_host::kMaxSuccessCodes) {
        const size_t comma = rest.find(service_host::kExitCodeSeparator);
        std::optional<ULONGLONG> code = boundedNumber(rest.substr(0, comma), 0, MAXDWORD);
        if (!code) {
            logError(L"the restart's success codes \"%S\" are not a list of exit codes", text.c_str());
            return std::nullopt;
        }
        codes.push_back(static_cast<DWORD>(*code));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return codes;
}

} // namespace

std::optional<RestartPolicy> readRestartPolicy() {
    if (!configStrings.count(ids::kServiceRestartDelay)) {
        return std::nullopt;
    }
    using namespace service_host;
    const auto delay =
        configuredNumber(ids::kServiceRestartDelay, kDefaultRestartDelaySeconds, 0, kMaxRestartDelaySeconds);
    const auto maxDelay = configuredNumber(ids::kServiceRestartMaxDelay, kDefaultRestartMaxDelaySeconds, 0,
                                           kMaxRestartDelaySeconds);
    const auto limit = configuredNumber(ids::kServiceRestartLimit, kDefaultRestartLimit, 0, kMaxRestartLimit);
    const auto window = configuredNumber(ids::kServiceRestartWindow, kDefaultRestartWindowSeconds, 1,
                                         kMaxRestartWindowSeconds);
    std::optional<std::vector<DWORD>> codes = configuredSuccessCodes();
    // A policy that cannot be read restarts nothing: the host ends with its child, as without one.
    if (!delay || !maxDelay || !limit || !window || !codes) {
        logError(L"the restart policy is not used");
        return std::nullopt;
    }
    RestartPolicy policy;
    policy.delayMs = static_cast<DWORD>(*delay * 1000);
    policy.maxDelayMs = static_cast<DWORD>(std::max(*delay, *maxDelay) * 1000);
    policy.limit = static_cast<size_t>(*limit);
    policy.windowMs = *window * 1000;
    policy.successCodes = std::move(*codes);
    logMessage(L"restart policy: delay %lu ms up to %lu ms, at most %d restarts within %lu s", policy.delayMs,
               policy.maxDelayMs, static_cast<int>(policy.limit), static_cast<unsigned long>(*window));
    return policy;
}

bool RestartTracker::isSuccess(DWORD exitCode) const {
    return std::find(policy_.successCodes.begin(), policy_.successCodes.end(), exitCode) !=
           policy_.successCodes.end();
}

RestartDecision RestartTracker::childEnded(DWORD exitCode, ULONGLONG now) {
    if (isSuccess(exitCode)) {
        return {};
    }
    return childFailed(now);
}

RestartDecision RestartTracker::childFailed(ULONGLONG now) {
    while (!restarts_.empty() && now - restarts_.front() >= policy_.windowMs) {
        restarts_.pop_front();
    }
    if (restarts_.size() >= policy_.limit) {
        return {ChildEndAction::GiveUp, 0, restarts_.size()};
    }
    // The delay doubles with each restart still within the window: delay, 2 delay, 4 delay ... max.
    ULONGLONG delay = policy_.delayMs;
    for (size_t i = 0; i < restarts_.size() && delay < policy_.maxDelayMs; ++i) {
        delay *= 2;
    }
    restarts_.push_back(now);
    return {ChildEndAction::Restart, static_cast<DWORD>(std::min<ULONGLONG>(delay, policy_.maxDelayMs)),
            restarts_.size()};
}

} // namespace morix
