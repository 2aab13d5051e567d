// Running a program as a system service where the system has a service manager (Windows): registering it,
// removing it, running under the manager, and the system's event log. Elsewhere the calls answer "not
// supported". A service's stop request reaches the program as its other stop requests do (StopRequest.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

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
// Tells the service manager that the service has started, or that it stopped with `code` (before the
// process ends at once); nothing outside a service.
void ReportServiceRunning();
void ReportServiceStopped(int code);

enum class ServiceEvent { kStarted, kStopped, kFailed };
// A line in the system's event log under `source` (nothing where there is none).
void ReportServiceEvent(const std::string& source, ServiceEvent event, const std::string& text);

}  // namespace platform
