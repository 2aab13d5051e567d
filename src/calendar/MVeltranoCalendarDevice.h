// The calendar device: the one kind of device the module creates. The host starts and stops it, sends it
// the commands of its definition ("Enable", "Disable", "Refresh", "Sync DB"), exchanges its settings as
// text, asks it for its definition and bitmap and opens its setup dialog.
//
// Threads that meet here:
//  - host threads call the IZRKDevice operations; a command is only queued, the host never waits for it;
//  - the worker thread (Run) executes the queued commands, each of which only sets a request flag, and then
//    makes the scheduler's pass while the device is enabled: it fires the due actions and never waits for
//    the server;
//  - the exchange thread runs the refreshes and synchronisations the pass starts, one at a time, and wakes
//    the worker when one has ended; Stop cancels the exchange in progress through the transport;
//  - the process-wide timer thread (OnTimer, every 40 ms) supervises command time-outs and may restart a
//    timed-out command on its own thread.
// So the request flags are atomic, the settings live in one snapshot behind a small lock (the worker takes
// a copy per pass), and the status variable handles are atomic pointers. The event list is replaced on
// the worker alone, between its walks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "calendar/CalendarActions.h"
#include "calendar/CalendarExchangeThread.h"
#include "calendar/CalendarScheduler.h"
#include "framework/IThreadHandler.h"
#include "framework/IThreadTimerHandler.h"
#include "framework/MCommandManager.h"
#include "framework/MString.h"
#include "framework/MThread.h"
#include "framework/MTimeout.h"
#include "framework/MZRKDeviceBase.h"
#include "zrk/IZRKDevice.h"

class IHostVariable;
class IKorrelRemote;
class IKorrelRemote2;
class IVariableManager;
class KorrelRemote;
class MThreadTimer;
class MVeltranoCalendarModule;

// The device's connection settings. `calendarGroup` travels with them to the setup dialog but is not
// persisted.
struct CalendarDeviceSettings {
    static constexpr const char* kDefaultUrl = "http://127.0.0.1:9256";

    bool local = true;
    int32_t locationId = 1;
    int32_t refreshPeriod = 10;  // minutes
    MString url{kDefaultUrl};
    int32_t lookahead = 1;  // days
    std::string calendarGroup;
};

class MVeltranoCalendarDevice : public MZRKDeviceBase,
                                public MCommandManager,
                                public IThreadTimerHandler,
                                public IThreadHandler,
                                public IZRKDevice {
public:
    // Command ids of the definition.
    enum Command : int { kEnable = 0, kDisable = 1, kRefresh = 2, kSyncDB = 3 };
    static constexpr int kSettingsVersion = 1000;
    static constexpr int kCommandTimeout = 5000;     // ms, for every command and as the manager's default
    static constexpr uint32_t kCommandWait = 1000;   // ms, the worker's longest pause
    static constexpr int kTimerInterval = 40;        // ms, the process-wide timer
    static constexpr uint32_t kTimerResolution = 1;  // ms
    static constexpr uint32_t kPacingPeriod = 1000;  // ms while started
    static constexpr int kBitmapResourceId = 5;

    // Registers the device, looks up the host's remote and variable services through the module's host
    // interface (when there is one), builds the remote access and joins the process-wide timer.
    MVeltranoCalendarDevice(MVeltranoCalendarModule* module, const char* name);
    // The host stops a started device before releasing it; should it not, the worker is stopped here.
    ~MVeltranoCalendarDevice() override;

    // IZRKDevice, in the host's slot order.
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    void ZRK_CALL SetHostDevice(IZRKHostDevice* hostDevice) override;
    int ZRK_CALL QueryCapability(int kind) override;
    void ZRK_CALL SetName(const char* name) override;
    const char* ZRK_CALL GetName() override;
    int ZRK_CALL Configure(IZRKRect* rect) override;
    int ZRK_CALL GetRunState() override;
    int ZRK_CALL Start() override;
    int ZRK_CALL Stop() override;
    int ZRK_CALL ReservedA(int a, int b) override;
    ZrkBitmapHandle ZRK_CALL GetBitmap() override;
    int ZRK_CALL SaveSettings(char** out) override;
    int ZRK_CALL LoadSettings(const char* text) override;
    int ZRK_CALL ReservedB(int a, int b) override;
    int ZRK_CALL ReservedC(int a) override;
    int ZRK_CALL ReservedD(int a) override;
    int ZRK_CALL ReservedE(int a, int b, int c) override;
    int ZRK_CALL SendCommand(int id, IZRKCallContext* context, int value) override;
    int ZRK_CALL FreeText(char** text) override;
    const char* ZRK_CALL GetDefinition() override;
    int ZRK_CALL ReservedF(int a, int b) override;
    int ZRK_CALL ReservedG(int a, int b) override;

    // The module's definition with each variable's "InstanceID" set to the host's id for it (when the host
    // object knows the variable). False when the module's text does not parse or has no Device/Variables
    // element (`out` then holds the module's text unchanged, or is left alone on a parse error).
    virtual bool BuildDefinition(std::string* out);
    // Hands the URL setting to the module's REST client.
    virtual void ApplyServerUrl();

    // Command manager: the command's code sets its flag; the command is then completed (destroyed).
    bool ExecuteCommand(MCommandObject* command) override;
    // Timer: the command watchdog, then the pacing timeout.
    int OnTimer(uint32_t now) override;
    // Worker loop: commands, then the scheduler's pass while enabled, until the stop request.
    int Run(MThread* thread) override;

    // A consistent copy of the settings, and their replacement as one (the setup dialog's six values).
    CalendarDeviceSettings GetSettings() const;
    void SetSettings(const CalendarDeviceSettings& settings);

    bool IsEnabled() const { return enabled_.load(); }
    bool IsRefreshRequested() const { return scheduler_.RefreshRequested(); }
    bool IsSyncRequested() const { return scheduler_.SyncRequested(); }
    // The handle kept for that status variable; null when it is not to be written.
    IHostVariable* GetStatusVariable(StatusVariable which) const;
    MVeltranoCalendarModule* GetModule() const { return module_; }
    KorrelRemote* GetRemote() const { return remote_; }
    MThread* GetWorker() { return &worker_; }
    MTimeout* GetPacingTimeout() { return &pacing_; }

    // Where the host wants the setup dialog: centred on its rectangle when one is given.
    struct DialogPlacement {
        bool given = false;
        int left = 0, top = 0, right = 0, bottom = 0;
        // Where a dialog of that size goes so that it is centred on the rectangle.
        int X(int width) const { return left + ((right - left) - width) / 2; }
        int Y(int height) const { return top + ((bottom - top) - height) / 2; }
    };

    // The timer all calendar devices share while at least one exists (null otherwise); for the tests.
    static MThreadTimer* SharedTimer();

protected:
    // The setup dialog's seam. Runs the dialog modally with the settings of GetSettings, placed on the
    // host's rectangle when one is given, and stores them back with SetSettings on OK. Returns 1 for OK;
    // anything else counts as cancelled. See MVeltranoCalendarDeviceSetup.cpp.
    int RunSetupDialog(const DialogPlacement& placement);

    // The scheduler's seam: one pass of the refresh cycle, the firing of due actions and a requested
    // synchronisation (the exchanges are started here and run on the exchange thread), made by the worker
    // after the commands of each pass while the device is enabled. See MVeltranoCalendarDeviceScheduler.cpp.
    void RunSchedulerPass();
    // How long the worker's command wait may last: until the next action is due while the device is
    // enabled (so that it fires on time), never longer than kCommandWait.
    uint32_t SchedulerWaitMs();

    // Replaces each status variable handle by the host object's answer for its name; without a host
    // object the handles stay as they are.
    void LookUpStatusVariables();

    // Set by the commands; the refresh and sync requests are the scheduler's own.
    std::atomic<bool> enabled_{true};

private:
    // The device's side of the scheduler's decisions: the server, the event list, the host calls and the
    // status variables. See MVeltranoCalendarDeviceScheduler.cpp.
    class SchedulerLink : public ICalendarPassHost {
    public:
        explicit SchedulerLink(MVeltranoCalendarDevice* device) : device_(device) {}
        int32_t RefreshPeriodMinutes() override;
        void StartRefresh() override;
        void StartSync() override;
        bool ExchangeEnded() override;
        void TakeRefreshedList() override;
        CalendarEventList* GetEvents() override;
        void ExecuteAction(MCalendarEvent* event) override;
        void UpdateEventVariables(MCalendarEvent* event, EventGroup group) override;
        void WriteTimeOfDay(::StatusVariable which, uint64_t instant) override;

    private:
        MVeltranoCalendarDevice* device_;
    };

    void JoinSharedTimer();
    void LeaveSharedTimer();
    // Cancels the exchange in progress, stops the worker and the exchange thread and waits for both;
    // shared by Stop and the destructor.
    void EndWorker();
    // "Sync DB": keeps the text handed with it for the next synchronisation, replacing one still pending.
    void QueueSyncText(const char* text);
    static MCommandObject* NewCommand(void* owner, int code);

    MVeltranoCalendarModule* module_;
    ZrkBitmapHandle bitmap_ = nullptr;
    std::mutex bitmapLock_;
    std::atomic<IZRKHostDevice*> hostDevice_{nullptr};
    std::string definitionText_;
    std::mutex definitionLock_;
    MThread worker_;
    MTimeout pacing_;
    IKorrelRemote* syncRemote_ = nullptr;
    IKorrelRemote2* asyncRemote_ = nullptr;
    IVariableManager* variableManager_ = nullptr;
    KorrelRemote* remote_ = nullptr;
    mutable std::mutex settingsLock_;
    CalendarDeviceSettings settings_;
    // The status variables (handles looked up on host threads, written by the worker) and the pass's
    // decisions.
    CalendarActions statusWriter_;
    SchedulerLink schedulerLink_{this};
    CalendarScheduler scheduler_{&schedulerLink_};
    // The text of the newest "Sync DB" command not yet synchronised.
    std::mutex syncTextsLock_;
    std::string syncText_;
    // Orders Start, Stop and the destructor's end of the worker.
    std::mutex startStopLock_;
    // The list the last refresh read, from its end on the exchange thread until the worker takes it.
    std::unique_ptr<CalendarEventList> refreshed_;
    // Wakes the worker when an exchange has ended, so that its answer takes effect at once.
    CalendarExchangeThread exchange_{[this] { SignalCommand(); }};
};
