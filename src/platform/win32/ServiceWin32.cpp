// Windows: registering, starting, stopping and removing the service; its manager's stop request as one of
// the program's stop requests; the Application event log.
#include <windows.h>
// clang-format off
#include <aclapi.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
// clang-format on

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/Service.h"
#include "platform/StopRequest.h"
#include "platform/TextConversion.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

std::wstring g_serviceName;
std::function<int()> g_serviceBody;
int g_serviceExitCode = 0;
std::atomic<SERVICE_STATUS_HANDLE> g_statusHandle{nullptr};
std::atomic<bool> g_stopped{false};

void SetServiceState(DWORD state, int exitCode, DWORD waitHintMs) {
    SERVICE_STATUS_HANDLE handle = g_statusHandle.load();
    if (!handle) return;
    // Once stopped, nothing else is reported: the manager may already have let the process go.
    if (state == SERVICE_STOPPED && g_stopped.exchange(true)) return;
    if (state != SERVICE_STOPPED && g_stopped.load()) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    // A stop with an error counts as a failure, so the recovery actions restart the service.
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
    status.dwWaitHint = waitHintMs;
    static std::atomic<DWORD> checkPoint{0};
    status.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++checkPoint : 0;
    SetServiceStatus(handle, &status);
}

DWORD WINAPI ServiceControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            SetServiceState(SERVICE_STOP_PENDING, 0, 2000);
            WakeStopWaiter();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName.c_str(), ServiceControl, nullptr);
    if (!g_statusHandle.load()) {
        g_serviceExitCode = 1;
        return;
    }
    // Reading the calendars at start may take a few seconds before the server listens.
    SetServiceState(SERVICE_START_PENDING, 0, 15000);
    g_serviceExitCode = g_serviceBody();
    SetServiceState(SERVICE_STOPPED, g_serviceExitCode, 0);
}

std::string ErrorText(DWORD code) {
    const std::string message = SystemMessage(code);
    return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

// One argument quoted as the C runtime splits a command line: backslashes count only before a quote.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
    if (!line->empty()) line->push_back(L' ');
    line->push_back(L'"');
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line->push_back(c);
    }
    line->append(backslashes * 2, L'\\');
    line->push_back(L'"');
}

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    void reset(SC_HANDLE handle) {
        if (handle_) CloseServiceHandle(handle_);
        handle_ = handle;
    }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

// Opens the service `name`; false with *error when that fails (ERROR_SERVICE_DOES_NOT_EXIST: no such
// service).
bool OpenExisting(const std::string& name, DWORD access, ScHandle* manager, ScHandle* service, DWORD* error) {
    manager->reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!*manager) return *error = GetLastError(), false;
    service->reset(OpenServiceW(manager->get(), AnsiToWide(name.c_str()).c_str(), access));
    if (!*service) *error = GetLastError();
    return static_cast<bool>(*service);
}

ServiceOutcome Failure(const std::string& what, DWORD code) {
    if (code == ERROR_ACCESS_DENIED)
        return {ServiceResult::kNoRights,
                what + ": administrator rights are needed (run it from an elevated command prompt)"};
    return {ServiceResult::kFailed, what + ": " + ErrorText(code)};
}

SERVICE_STATUS_PROCESS QueryStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

// Waits up to timeoutMs for the service to leave `pending`; its state then.
SERVICE_STATUS_PROCESS WaitWhile(SC_HANDLE service, DWORD pending, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    SERVICE_STATUS_PROCESS status = QueryStatus(service);
    while (status.dwCurrentState == pending && GetTickCount64() < end) {
        Sleep(100);
        status = QueryStatus(service);
    }
    return status;
}

enum class StartResult { kRunning, kNeverRan, kFailed };

// Starts the service and waits until it runs. The first answer right after registering may be a time-out
// while the service does come up a moment later, so the state is polled whatever StartService said. A
// service whose program never ran (its account could not log on) is told from one whose program failed.
StartResult StartAndWait(SC_HANDLE service, DWORD* error) {
    *error = StartServiceW(service, 0, nullptr) ? NO_ERROR : GetLastError();
    if (*error == ERROR_SERVICE_ALREADY_RUNNING) *error = NO_ERROR;
    if (*error == ERROR_SERVICE_LOGON_FAILED || *error == ERROR_SERVICE_DATABASE_LOCKED)
        return StartResult::kNeverRan;
    if (*error != NO_ERROR && *error != ERROR_SERVICE_REQUEST_TIMEOUT) return StartResult::kFailed;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG stoppedSince = 0;
    while (GetTickCount64() - start < 20000) {
        const SERVICE_STATUS_PROCESS status = QueryStatus(service);
        if (status.dwCurrentState == SERVICE_RUNNING) return *error = NO_ERROR, StartResult::kRunning;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            // The program itself reported its failure.
            if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
                return *error = ERROR_SERVICE_SPECIFIC_ERROR, StartResult::kFailed;
            // Stopped without a word for a few seconds: it never ran.
            if (stoppedSince == 0) stoppedSince = GetTickCount64();
            if (GetTickCount64() - stoppedSince > 3000) {
                if (*error == NO_ERROR)
                    *error = status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_NEVER_STARTED;
                return StartResult::kNeverRan;
            }
        } else {
            stoppedSince = 0;
        }
        Sleep(100);
    }
    *error = ERROR_SERVICE_REQUEST_TIMEOUT;
    return StartResult::kFailed;
}

// Stops the service if it runs and waits for its process to end (its program file is free then).
void StopAndWait(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = QueryStatus(service);
    if (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == 0) return;
    HANDLE process = status.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : nullptr;
    SERVICE_STATUS plain{};
    ControlService(service, SERVICE_CONTROL_STOP, &plain);
    WaitWhile(service, SERVICE_STOP_PENDING, 5000);
    if (process) {
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

// Gives the LocalService account change rights on `folder` and what is made in it (the installing
// administrator owns the folder; the service only writes there).
bool GrantLocalService(const std::wstring& folder, std::string* error) {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, 1, SECURITY_LOCAL_SERVICE_RID, 0, 0, 0, 0, 0, 0, 0, &sid))
        return *error = ErrorText(GetLastError()), false;
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD code = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, &current, nullptr, &descriptor);
    PACL updated = nullptr;
    if (code == ERROR_SUCCESS) {
        EXPLICIT_ACCESSW access{};
        access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
        access.grfAccessMode = GRANT_ACCESS;
        access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        code = SetEntriesInAclW(1, &access, current, &updated);
    }
    if (code == ERROR_SUCCESS) {
        std::wstring path = folder;
        code = SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     updated, nullptr);
    }
    if (updated) LocalFree(updated);
    if (descriptor) LocalFree(descriptor);
    FreeSid(sid);
    if (code != ERROR_SUCCESS) *error = ErrorText(code);
    return code == ERROR_SUCCESS;
}

// The description, the delayed start and the recovery actions. A setting this system does not know (Wine
// lacks some) is left out with a note rather than failing the install.
bool Configure(SC_HANDLE service, const ServiceSpec& spec, DWORD* error, std::string* notes) {
    std::wstring description = AnsiToWide(spec.description.c_str());
    SERVICE_DESCRIPTIONW text{&description[0]};
    SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
    // Restarted 5 s after a first and second failure, a minute after any later one; the count starts
    // again after a day without failures.
    SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    // A stop with an error (the program gave up) is handled as a crash is.
    SERVICE_FAILURE_ACTIONS_FLAG onError{TRUE};
    const struct {
        DWORD level;
        void* value;
        const char* what;
    } settings[] = {
        {SERVICE_CONFIG_DESCRIPTION, &text, "the description"},
        {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, "the delayed start"},
        {SERVICE_CONFIG_FAILURE_ACTIONS, &failure, "the restarts after a crash"},
        {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onError, "the restarts after a stop with an error"}};
    for (const auto& setting : settings) {
        if (ChangeServiceConfig2W(service, setting.level, setting.value)) continue;
        *error = GetLastError();
        if (*error != ERROR_INVALID_LEVEL) return false;
        *notes += std::string("warning: this system does not take ") + setting.what + " of a service\n";
    }
    return true;
}

}  // namespace

bool ServicesSupported() {
    return true;
}

// The known folder, not the environment: a service's environment may name another one (Wine gives a
// service C:\users\Public), and the installing administrator and the service must agree.
std::string SharedDataFolder() {
    wchar_t* path = nullptr;
    std::wstring folder = L"C:\\ProgramData";
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path) == S_OK) folder = path;
    CoTaskMemFree(path);
    const int size = WideCharToMultiByte(CP_ACP, 0, folder.c_str(), static_cast<int>(folder.size()), nullptr,
                                         0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, folder.c_str(), static_cast<int>(folder.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

ServiceOutcome CheckServiceInstall(const std::string& name) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return Failure("cannot install the service", GetLastError());
    ScHandle existingManager;
    ScHandle existing;
    DWORD error = NO_ERROR;
    if (OpenExisting(name, SERVICE_QUERY_STATUS, &existingManager, &existing, &error))
        return {ServiceResult::kAlreadyInstalled,
                "a service named " + name +
                    " is already installed; nothing was changed (\"service uninstall\" removes it)"};
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) return Failure("cannot install the service", error);
    return {ServiceResult::kDone, ""};
}

ServiceOutcome InstallService(const ServiceSpec& spec) {
    ServiceOutcome check = CheckServiceInstall(spec.name);
    if (check.result != ServiceResult::kDone) return check;
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return Failure("cannot install the service", GetLastError());

    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return Failure("cannot find this program's path", GetLastError());
    std::wstring commandLine;
    AppendQuoted(&commandLine, std::wstring(program, length));
    for (const std::string& arg : spec.arguments) AppendQuoted(&commandLine, AnsiToWide(arg.c_str()));

    std::string notes;
    if (!spec.writableFolder.empty()) {
        std::string error;
        if (!GrantLocalService(AnsiToWide(spec.writableFolder.c_str()), &error))
            notes += "warning: cannot give the LocalService account write access to " + spec.writableFolder +
                     " (" + error + ")\n";
    }

    const std::wstring name = AnsiToWide(spec.name.c_str());
    ScHandle service(CreateServiceW(manager.get(), name.c_str(), AnsiToWide(spec.displayName.c_str()).c_str(),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr, nullptr,
                                    L"NT AUTHORITY\\LocalService", L""));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_EXISTS || code == ERROR_DUPLICATE_SERVICE_NAME)
            return {ServiceResult::kAlreadyInstalled,
                    "a service named " + spec.name + " is already installed; nothing was changed"};
        return Failure("cannot register the service", code);
    }
    // Whatever fails from here removes the registration again: nothing is left half-way.
    auto undo = [&](const std::string& what, DWORD code) {
        StopAndWait(service.get());
        DeleteService(service.get());
        ServiceOutcome outcome = Failure(what, code);
        outcome.message += "; the service was removed again";
        return outcome;
    };
    DWORD code = NO_ERROR;
    if (!Configure(service.get(), spec, &code, &notes)) return undo("cannot configure the service", code);
    StartResult started = StartAndWait(service.get(), &code);
    if (started == StartResult::kNeverRan) {
        // Where the LocalService account cannot log on (seen under Wine), the service runs as LocalSystem.
        if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, nullptr, L"LocalSystem", L"", nullptr))
            return undo("cannot change the service's account", GetLastError());
        notes += "warning: the service did not run as LocalService (" + ErrorText(code) +
                 "); it runs as LocalSystem instead\n";
        started = StartAndWait(service.get(), &code);
    }
    if (started != StartResult::kRunning) return undo("the service did not start (its log says why)", code);
    return {ServiceResult::kDone, notes + "installed and started the service " + spec.name};
}

ServiceOutcome UninstallService(const std::string& name) {
    ScHandle manager;
    ScHandle service;
    DWORD error = NO_ERROR;
    if (!OpenExisting(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, &manager, &service, &error)) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            return {ServiceResult::kNotInstalled, "no service named " + name + " is installed"};
        return Failure("cannot remove the service", error);
    }
    StopAndWait(service.get());
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return Failure("cannot remove the service", GetLastError());
    return {ServiceResult::kDone, "stopped and removed the service " + name};
}

bool RunAsService(const std::string& name, const std::function<int()>& body, int* exitCode) {
    g_serviceName = AnsiToWide(name.c_str());
    g_serviceBody = body;
    SERVICE_TABLE_ENTRYW table[] = {{&g_serviceName[0], ServiceMain}, {nullptr, nullptr}};
    // Fails at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) when a console started the program.
    if (!StartServiceCtrlDispatcherW(table)) return false;
    *exitCode = g_serviceExitCode;
    return true;
}

unsigned long CurrentProcessId() {
    return GetCurrentProcessId();
}

void ReportServiceRunning() {
    SetServiceState(SERVICE_RUNNING, 0, 0);
}

void ReportServiceStopped(int code) {
    SetServiceState(SERVICE_STOPPED, code, 0);
}

void ReportServiceEvent(const std::string& source, ServiceEvent event, const std::string& text) {
    HANDLE log = RegisterEventSourceW(nullptr, AnsiToWide(source.c_str()).c_str());
    if (!log) return;
    const std::wstring line = AnsiToWide(text.c_str());
    const wchar_t* strings[] = {line.c_str()};
    const WORD type = event == ServiceEvent::kFailed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
    const DWORD id = event == ServiceEvent::kStarted ? 1 : event == ServiceEvent::kStopped ? 2 : 3;
    ReportEventW(log, type, 0, id, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

}  // namespace platform
