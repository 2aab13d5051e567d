// A long-running program's stop requests, and running it as a system service where the system has a service
// manager (Windows): registering it, removing it, running under the manager, and the system's event log.
// Elsewhere the service calls answer "not supported" and a stop request is SIGINT or SIGTERM.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Before any thread starts: the stop requests (signals, console Ctrl-C / close, a service stop) are taken
// by WaitForStopRequest alone from then on.
void PrepareStopRequests();
// Returns at the first stop request, or at RequestStop.
void WaitForStopRequest();
// Wakes WaitForStopRequest from inside the program (its work ended by itself).
void RequestStop();
// Ends the process at once with `code`, telling the service manager that the service stopped when it runs
// as one (a service that vanishes without saying so counts as crashed and is restarted).
[[noreturn]] void ExitNow(int code);

enum class ServiceResult { kDone, kNotSupported, kNoRights, kAlreadyInstalled, kNotInstalled, kFailed };

struct ServiceOutcome {
    ServiceResult result = ServiceResult::kFailed;
    std::string message;  // what happened, for the person at the console
};

struct ServiceSpec {
    std::string name;         // the service's key name
    std::string displayName;  // as the system's service list shows it
    std::string description;
    std::vector<std::string> arguments;  // this program's arguments when the manager starts it
    std::string writableFolder;          // a folder the service's account must be able to write (or empty)
};

// True where this system has a service manager.
bool ServicesSupported();
// The folder for programs' data shared by every user (Windows: %ProgramData%); empty where there is none.
std::string SharedDataFolder();
// Whether InstallService could register `name` now (rights, a service of that name), changing nothing.
ServiceOutcome CheckServiceInstall(const std::string& name);
// Registers this program as a service that starts with the system (delayed), runs under a low-privilege
// account and is restarted after a crash, and starts it; a service that does not come up is removed again.
ServiceOutcome InstallService(const ServiceSpec& spec);
// Stops the service (waiting for its process to end) and removes it.
ServiceOutcome UninstallService(const std::string& name);

// Runs `body` as the service `name` when the service manager started this program, and gives its result in
// *exitCode; false at once (body not run) when the program was not started by the manager.
bool RunAsService(const std::string& name, const std::function<int()>& body, int* exitCode);
// This process's id, as the system's process list shows it.
unsigned long CurrentProcessId();
// Tells the service manager that the service has started (nothing outside a service).
void ReportServiceRunning();

enum class ServiceEvent { kStarted, kStopped, kFailed };
// A line in the system's event log under `source` (nothing where there is none).
void ReportServiceEvent(const std::string& source, ServiceEvent event, const std::string& text);

}  // namespace platform
