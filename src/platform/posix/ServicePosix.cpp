// POSIX: a stop request is SIGINT or SIGTERM, taken by one waiting thread; services are the init system's
// business (a unit file runs the program as it is), so the service calls answer "not supported".
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "platform/Service.h"

namespace platform {
namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

ServiceOutcome NotSupported() {
    return {ServiceResult::kNotSupported,
            "services are not supported on this system: run the program from the system's own service "
            "manager instead"};
}

}  // namespace

void PrepareStopRequests() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WaitForStopRequest() {
    const sigset_t signals = StopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
}

// A second request while none waits stays pending and blocked until exit.
void RequestStop() {
    kill(getpid(), SIGTERM);
}

void ExitNow(int code) {
    _exit(code);
}

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
unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }
void ReportServiceRunning() {}
void ReportServiceEvent(const std::string&, ServiceEvent, const std::string&) {}

}  // namespace platform
