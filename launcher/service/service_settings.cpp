#include "service/service_settings.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "service/service_messages.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <algorithm>

namespace morix {
namespace {

using ChangeConfig2 = decltype(&ChangeServiceConfig2W);

ChangeConfig2 changeConfigFunction() {
    return lookupFunction<ChangeConfig2>(GetModuleHandleA("advapi32.dll"), "ChangeServiceConfig2W");
}

// Sets one kind of configuration; the error code, or ERROR_SUCCESS.
DWORD changeConfig(SC_HANDLE service, DWORD level, void* info, const wchar_t* what) {
    ChangeConfig2 change = changeConfigFunction();
    if (change == nullptr) {
        logError(L"ChangeServiceConfig2W is not available for the %s", what);
        return ERROR_PROC_NOT_FOUND;
    }
    if (!change(service, level, info)) {
        const DWORD error = GetLastError();
        logError(L"ChangeServiceConfig2W %s failed (%d)", what, static_cast<int>(error));
        return error;
    }
    logMessage(L"set the service's %s", what);
    return ERROR_SUCCESS;
}

// Whether the system kept the failure actions: a system that accepts them without storing them (Wine
// does) must not have the install report a recovery that will never happen.
DWORD verifyFailureActions(SC_HANDLE service, const RecoveryPlan& plan) {
    auto query = lookupFunction<decltype(&QueryServiceConfig2W)>(GetModuleHandleA("advapi32.dll"),
                                                                 "QueryServiceConfig2W");
    if (query == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    std::vector<BYTE> buffer(sizeof(SERVICE_FAILURE_ACTIONSW) +
                             (plan.actions.size() + 1) * sizeof(SC_ACTION) + 1024);
    DWORD needed = 0;
    if (!query(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), static_cast<DWORD>(buffer.size()),
               &needed)) {
        const DWORD error = GetLastError();
        logError(L"QueryServiceConfig2W failure actions failed (%d)", static_cast<int>(error));
        return error;
    }
    const auto* stored = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    const bool same = stored->cActions == plan.actions.size() && stored->lpsaActions != nullptr &&
                      std::equal(plan.actions.begin(), plan.actions.end(), stored->lpsaActions,
                                 [](const SC_ACTION& a, const SC_ACTION& b) {
                                     return a.Type == b.Type && a.Delay == b.Delay;
                                 });
    if (!same) {
        logError(L"the service's failure actions read back as %d actions",
                 static_cast<int>(stored->cActions));
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

bool isSet(int32_t id) {
    return configStrings.count(id) != 0;
}

DWORD configuredSeconds(int32_t id, int64_t fallback, int64_t max) {
    const int64_t value = isSet(id) ? getConfigInt(id) : fallback;
    return static_cast<DWORD>(std::clamp<int64_t>(value, 0, max));
}

} // namespace

std::wstring serviceDisplayName() {
    std::wstring name = getConfigWideString(ids::kServiceDisplayName, service_account::kMaxNameLength + 1);
    return name.empty() ? serviceName : name;
}

std::optional<RecoveryPlan> configuredRecovery() {
    if (!isSet(ids::kServiceRecoveryDelay)) {
        return std::nullopt;
    }
    RecoveryPlan plan;
    const DWORD delayMs =
        1000 * configuredSeconds(ids::kServiceRecoveryDelay, service_recovery::kDefaultDelaySeconds,
                                 service_recovery::kMaxDelaySeconds);
    plan.resetSeconds = configuredSeconds(ids::kServiceRecoveryReset, service_recovery::kDefaultResetSeconds,
                                          service_recovery::kMaxResetSeconds);
    const DWORD restarts =
        configuredSeconds(ids::kServiceRecoveryRestarts, 0, service_recovery::kMaxRestarts);
    // The system repeats the last action for every later failure: one restart means always.
    plan.actions.assign(restarts == 0 ? 1 : restarts, SC_ACTION{SC_ACTION_RESTART, delayMs});
    if (restarts != 0) {
        plan.actions.push_back(SC_ACTION{SC_ACTION_NONE, 0});
    }
    return plan;
}

void setServiceDescription(SC_HANDLE service) {
    std::wstring description = getConfigWideString(ids::kServiceDescription);
    if (description.empty() || changeConfigFunction() == nullptr) {
        return;
    }
    SERVICE_DESCRIPTIONW info{description.data()};
    changeConfig(service, SERVICE_CONFIG_DESCRIPTION, &info, L"description");
}

bool setDelayedStart(SC_HANDLE service, DWORD startType) {
    if (startType != SERVICE_AUTO_START || getConfigInt(ids::kServiceDelayedStart) == 0) {
        return true;
    }
    SERVICE_DELAYED_AUTO_START_INFO info{TRUE};
    const DWORD error =
        changeConfig(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info, L"delayed start");
    if (error == ERROR_SUCCESS) {
        return true;
    }
    printText("Could not set the delayed start: the service starts automatically without the delay.\n");
    printFailureReason(error);
    return false;
}

bool setRecovery(SC_HANDLE service) {
    std::optional<RecoveryPlan> plan = configuredRecovery();
    if (!plan) {
        return true;
    }
    SERVICE_FAILURE_ACTIONSW actions{plan->resetSeconds, nullptr, nullptr,
                                     static_cast<DWORD>(plan->actions.size()), plan->actions.data()};
    DWORD error = changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, L"failure actions");
    if (error == ERROR_SUCCESS) {
        error = verifyFailureActions(service, *plan);
    }
    if (error != ERROR_SUCCESS) {
        printText("Could not set the system's recovery: Windows will not restart the service when it "
                  "fails.\n");
        printFailureReason(error);
        return false;
    }
    // A host that gives up on its application reports the service stopped with an error; without this
    // flag the system takes that for a clean end and recovers only a host that dies.
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    error = changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, L"failure actions flag");
    if (error != ERROR_SUCCESS) {
        printText("Could not extend the system's recovery to a service that stops with an error: Windows "
                  "restarts the service only when its process dies.\n");
        printFailureReason(error);
        return false;
    }
    return true;
}

} // namespace morix
