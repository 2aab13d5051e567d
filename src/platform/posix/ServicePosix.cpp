// POSIX: services are the init system's business (a unit file runs the program as it is), so the service
// calls answer "not supported".
#include <unistd.h>

#include "platform/Service.h"

namespace platform {
namespace {

ServiceOutcome NotSupported() {
    return {ServiceResult::kNotSupported,
            "services are not supported on this system: run the program from the system's own service "
            "manager instead"};
}

}  // namespace

bool ServicesSupported() {
    return false;
}
std::string SharedDataFolder() {
    return {};
}
ServiceOutcome CheckServiceInstall(const std::string&) {
    return NotSupported();
}
ServiceOutcome InstallService(const ServiceSpec&) {
    return NotSupported();
}
ServiceOutcome UninstallService(const std::string&) {
    return NotSupported();
}
bool RunAsService(const std::string&, const std::function<int()>&, int*) {
    return false;
}
unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(getpid());
}
void ReportServiceRunning() {}
void ReportServiceStopped(int) {}
void ReportServiceEvent(const std::string&, ServiceEvent, const std::string&) {}

}  // namespace platform
