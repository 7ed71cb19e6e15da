#include "service/service_messages.h"

#include "common/text.h"

#include <iterator>

namespace morix {
namespace {

// The system's texts are a sentence or two; a longer one is cut rather than printed whole.
constexpr DWORD kErrorTextCapacity = 1024;

std::string encodeForCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    // UTF-8 and UTF-7 accept neither flags nor a default character.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = unicode ? nullptr : "?";
    const int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, fallback, nullptr);
    if (size <= 0) {
        return wideToNarrow(text);
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, fallback, nullptr);
    return bytes;
}

struct Remedy {
    DWORD error;
    const char* text;
};

const Remedy kRemedies[] = {
    {ERROR_ACCESS_DENIED, "Run the command as administrator (from an elevated command prompt)."},
    {ERROR_INVALID_NAME, "Windows accepts service names of 1 to 256 characters without '/' or '\\'."},
    {ERROR_DEPENDENT_SERVICES_RUNNING, "Other running services depend on this one: stop them first."},
    {ERROR_SERVICE_REQUEST_TIMEOUT,
     "The service did not answer in time: see its log (docs/service.md tells how to switch it on)."},
    {ERROR_SERVICE_ALREADY_RUNNING, "The service is already running: use /stop or /restart."},
    {ERROR_INVALID_SERVICE_ACCOUNT, "The account does not exist or is not valid: check service.account."},
    {ERROR_SERVICE_DISABLED, "The service is disabled: reinstall it with /install or enable it in the "
                             "Services console."},
    {ERROR_SERVICE_DOES_NOT_EXIST, "The service is not installed: install it with /install."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "The service is starting or stopping: try again in a moment."},
    {ERROR_SERVICE_NOT_ACTIVE, "The service is not running: start it with /start."},
    {ERROR_SERVICE_DEPENDENCY_FAIL, "A service that this one depends on did not start: check "
                                    "service.dependencies and start that service first."},
    {ERROR_SERVICE_LOGON_FAILED, "The service could not log on with its account: check the password and "
                                 "the account's right to log on as a service, then /install again."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "Windows removes the service once nothing holds it open: close the "
                                      "Services console (and any other tool showing services), then try "
                                      "again."},
    {ERROR_SERVICE_EXISTS, "A service of that name exists and could not be replaced: remove it with "
                           "/uninstall first."},
    {ERROR_SERVICE_DEPENDENCY_DELETED, "A service that this one depends on is not installed: check "
                                       "service.dependencies."},
    {ERROR_DUPLICATE_SERVICE_NAME, "Another service already uses this name as its name or display name: "
                                   "choose another service.name or service.display_name."},
};

} // namespace

std::string printableText(std::wstring_view text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && GetFileType(output) == FILE_TYPE_CHAR) {
        if (UINT codePage = GetConsoleOutputCP(); codePage != 0) {
            return encodeForCodePage(text, codePage);
        }
    }
    return wideToNarrow(text);
}

std::wstring systemErrorText(DWORD error) {
    wchar_t buffer[kErrorTextCapacity] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring text(buffer, length < std::size(buffer) ? length : 0);
    // One line: the system's texts may hold line breaks and end with one.
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n' || c == L'\t') {
            c = L' ';
        }
    }
    while (!text.empty() && (text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return text;
}

const char* failureRemedy(DWORD error) {
    for (const Remedy& remedy : kRemedies) {
        if (remedy.error == error) {
            return remedy.text;
        }
    }
    return "";
}

std::string failureReasonLine(DWORD error, const char* remedy) {
    const std::wstring text = systemErrorText(error);
    std::string line = "Reason: ";
    line += text.empty()
                ? formatNarrow("error %lu.", static_cast<unsigned long>(error))
                : printableText(text) + formatNarrow(" (error %lu).", static_cast<unsigned long>(error));
    if (remedy == nullptr) {
        remedy = failureRemedy(error);
    }
    if (*remedy != '\0') {
        line += ' ';
        line += remedy;
    }
    return line + "\n";
}

void printFailureReason(DWORD error) {
    printText(failureReasonLine(error));
}

} // namespace morix
