#include "calendar/MVeltranoCalendarDevice.h"

#include <tinyxml.h>

#include <cstring>
#include <new>

#include "framework/MThreadTimer.h"
#include "framework/XmlText.h"
#include "hostsync/KorrelRemote.h"
#include "module/MVeltranoCalendarModule.h"
#include "platform/Clock.h"
#include "platform/DeviceBitmap.h"
#include "platform/TextConversion.h"
#include "zrk/IHostVariable.h"
#include "zrk/IKorrelRemote.h"
#include "zrk/IKorrelRemoteManager.h"
#include "zrk/IVariableManager.h"
#include "zrk/IZRKCallContext.h"
#include "zrk/IZRKHostDevice.h"
#include "zrk/IZRKRect.h"

namespace {

// The timer every calendar device shares, and how many devices use it. It is made for the first device
// and ended with the last one.
std::mutex g_timerLock;
MThreadTimer* g_timer = nullptr;
int g_timerUsers = 0;

// Prints an element with one tab per level, as the host stores it.
std::string PrintElement(const TiXmlElement& element) {
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    element.Accept(&printer);
    return printer.Str();
}

// Asks the host's root for a service by name; null when the host does not know it.
template <class Interface>
Interface* LookUpService(IMInterface* host, const char* name) {
    void* service = nullptr;
    if (host->QueryInterface(name, &service) != kZrkOk) return nullptr;
    return static_cast<Interface*>(service);
}

}  // namespace

MVeltranoCalendarDevice::MVeltranoCalendarDevice(MVeltranoCalendarModule* module, const char* name)
    : MZRKDeviceBase(name),
      MCommandManager(kCommandTimeout, false, true),
      module_(module),
      worker_(false, this) {
    IMInterface* host = module_ != nullptr ? module_->GetHost() : nullptr;
    if (host != nullptr) {
        if (auto* manager = LookUpService<IKorrelRemoteManager>(host, "IKorrelRemoteManager")) {
            syncRemote_ = manager->GetRemote();
        }
        if (auto* manager = LookUpService<IKorrelRemoteManager2>(host, "IKorrelRemoteManager2")) {
            asyncRemote_ = manager->GetRemote(static_cast<IZRKDevice*>(this));
        }
        variableManager_ = LookUpService<IVariableManager>(host, "IVariableManager");
    }
    remote_ = new KorrelRemote(this, syncRemote_, asyncRemote_, variableManager_);
    JoinSharedTimer();
}

MVeltranoCalendarDevice::~MVeltranoCalendarDevice() {
    // The worker and the timer both call into this object: neither may outlive its parts.
    {
        std::lock_guard<std::mutex> order(startStopLock_);
        EndWorker();
    }
    LeaveSharedTimer();
    delete remote_;
    if (syncRemote_ != nullptr) syncRemote_->Release();
    if (asyncRemote_ != nullptr) asyncRemote_->Release();
    if (module_ != nullptr) module_->OnDeviceDestroyed(this);
    platform::DeleteBitmap(bitmap_);
}

void MVeltranoCalendarDevice::JoinSharedTimer() {
    std::lock_guard<std::mutex> guard(g_timerLock);
    if (g_timer == nullptr) {
        g_timer = new MThreadTimer(kTimerInterval, kTimerResolution);
        g_timer->Start();
    }
    ++g_timerUsers;
    g_timer->AddHandler(this);
}

void MVeltranoCalendarDevice::LeaveSharedTimer() {
    std::lock_guard<std::mutex> guard(g_timerLock);
    if (g_timer == nullptr) return;
    // Waits for a pass in progress, so OnTimer is not running on this device afterwards.
    g_timer->RemoveHandler(this);
    if (--g_timerUsers == 0) {
        g_timer->Stop();
        g_timer->WaitForExit(platform::kInfinite);
        delete g_timer;
        g_timer = nullptr;
    }
}

MThreadTimer* MVeltranoCalendarDevice::SharedTimer() {
    std::lock_guard<std::mutex> guard(g_timerLock);
    return g_timer;
}

// ---- IZRKDevice ----

int ZRK_CALL MVeltranoCalendarDevice::QueryInterface(const char* name, void** out) {
    if (name == nullptr || out == nullptr) return kZrkNullArgument;
    *out = nullptr;
    if (std::strcmp(name, "IMInterface") == 0 || std::strcmp(name, "IZRKDevice") == 0) {
        *out = static_cast<IZRKDevice*>(this);
        return kZrkOk;
    }
    return kZrkUnknownInterface;
}

int ZRK_CALL MVeltranoCalendarDevice::Release() {
    delete this;
    return kZrkOk;
}

void ZRK_CALL MVeltranoCalendarDevice::SetHostDevice(IZRKHostDevice* hostDevice) {
    hostDevice_.store(hostDevice);
}

int ZRK_CALL MVeltranoCalendarDevice::QueryCapability(int kind) {
    return kind == 2 ? kZrkOk : kZrkStateAnswer;
}

void ZRK_CALL MVeltranoCalendarDevice::SetName(const char* name) {
    MZRKDeviceBase::SetName(name);
}

const char* ZRK_CALL MVeltranoCalendarDevice::GetName() {
    return MZRKDeviceBase::GetName();
}

int ZRK_CALL MVeltranoCalendarDevice::Configure(IZRKRect* rect) {
    DialogPlacement placement;
    if (rect != nullptr) {
        placement.given = true;
        placement.left = rect->GetLeft();
        placement.top = rect->GetTop();
        placement.right = rect->GetRight();
        placement.bottom = rect->GetBottom();
    }
    int result = RunSetupDialog(placement) == 1 ? kZrkOk : kZrkCancelled;
    // Whatever the user chose, the device looks its variables up and hands the address on again.
    LookUpStatusVariables();
    ApplyServerUrl();
    return result;
}

int ZRK_CALL MVeltranoCalendarDevice::GetRunState() {
    return IsRunning() ? kZrkCapabilityAnswer : kZrkStateAnswer;
}

int ZRK_CALL MVeltranoCalendarDevice::Start() {
    {
        // A Start while a Stop runs on another thread waits for it, so the device never reports running
        // without its worker.
        std::lock_guard<std::mutex> order(startStopLock_);
        const bool started = IsRunning();
        SetOpened(true);
        SetRunning(true);
        pacing_.SetPeriod(kPacingPeriod);
        if (started) {
            // A second Start leaves the running threads and their exchange alone; it asks for a refresh.
            scheduler_.RequestRefresh();
            SignalCommand();
        } else {
            // Nothing dated at or before the start is executed, and the first pass, at once, refreshes.
            scheduler_.OnStart(platform::LocalInstantNow(), platform::UtcInstantNow());
            exchange_.Start();
            worker_.Start(false);
        }
    }
    // A fresh registration with the host; what it answers does not stop the start. Outside the lock: a
    // host may complete these calls only on the thread that would then wait for it in Stop.
    remote_->Unsubscribe();
    remote_->Subscribe();
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarDevice::Stop() {
    std::lock_guard<std::mutex> order(startStopLock_);
    SetRunning(false);
    SetOpened(false);
    pacing_.SetPeriod(0);
    EndWorker();
    Flush();
    return kZrkOk;
}

void MVeltranoCalendarDevice::EndWorker() {
    // The exchange in progress ends through the transport, whatever the server does; a host call the host
    // left pending is given up, on either thread: the host may complete it only on the thread waiting here.
    exchange_.Cancel();
    remote_->EndCalls();
    worker_.Stop(false);
    // Wakes a worker that waits for a command, so it sees the stop at once.
    SignalCommand();
    worker_.WaitForExit(platform::kInfinite);
    exchange_.Stop();
    // The setup dialog may call the host again while the device is stopped.
    remote_->ResumeCalls();
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedA(int, int) {
    return kZrkNotSupported;
}

ZrkBitmapHandle ZRK_CALL MVeltranoCalendarDevice::GetBitmap() {
    std::lock_guard<std::mutex> guard(bitmapLock_);
    if (bitmap_ == nullptr) bitmap_ = platform::LoadMapped3DBitmap(platform::OwnModule(), kBitmapResourceId);
    return bitmap_;
}

int ZRK_CALL MVeltranoCalendarDevice::SaveSettings(char** out) {
    if (out == nullptr) return kZrkBadArgument;
    CalendarDeviceSettings settings = GetSettings();
    TiXmlElement* data = CreateDeviceData(kSettingsVersion);
    auto* setup = new TiXmlElement("Setup");
    setup->SetAttribute("Local", settings.local ? 1 : 0);
    setup->SetAttribute("URL", settings.url.Get());
    setup->SetAttribute("RefreshPeriod", settings.refreshPeriod);
    setup->SetAttribute("Lookahead", settings.lookahead);
    setup->SetAttribute("LocationId", settings.locationId);
    data->LinkEndChild(setup);
    std::string text = PrintElement(*data);
    delete data;

    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *out = copy;
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarDevice::LoadSettings(const char* text) {
    if (text == nullptr || *text == '\0') return kZrkBadArgument;
    // Settings nested too deeply for the parser's recursion count as unreadable, like a parse error; a
    // text that is not UTF-8 (an ANSI address) is read byte by byte, so that it reads back as saved.
    TiXmlDocument document;
    if (!xml_text::Parse(&document, text)) return kZrkBadArgument;
    TiXmlElement* root = document.RootElement();
    int version = 0;
    int read = ReadDeviceData(root, kSettingsVersion, &version);
    if (read != 0 && read != 1) return kZrkDataRejected;
    const TiXmlElement* setup = root->FirstChildElement("Setup");
    if (setup == nullptr) return kZrkBadArgument;

    {
        // One host thread's load replaces the whole snapshot; the worker sees either the old or the new.
        std::lock_guard<std::mutex> guard(settingsLock_);
        CalendarDeviceSettings settings = settings_;
        int value = 0;
        if (setup->QueryIntAttribute("Local", &value) != TIXML_SUCCESS) value = 0;
        settings.local = value > 0;
        if (setup->QueryIntAttribute("RefreshPeriod", &value) == TIXML_SUCCESS)
            settings.refreshPeriod = value;
        if (setup->QueryIntAttribute("Lookahead", &value) == TIXML_SUCCESS) settings.lookahead = value;
        if (setup->QueryIntAttribute("LocationId", &value) == TIXML_SUCCESS) settings.locationId = value;
        const char* url = setup->Attribute("URL");
        settings.url.Set(url != nullptr ? url : "");
        settings_ = settings;
    }
    ApplyServerUrl();
    LookUpStatusVariables();
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedB(int, int) {
    return kZrkNotSupported;
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedC(int) {
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedD(int) {
    return kZrkStateAnswer;
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedE(int, int, int) {
    return kZrkCapabilityAnswer;
}

MCommandObject* MVeltranoCalendarDevice::NewCommand(void* owner, int code) {
    auto* command = new MCommandObject(owner, code, 0);
    command->SetTimeout(kCommandTimeout);
    return command;
}

int ZRK_CALL MVeltranoCalendarDevice::SendCommand(int id, IZRKCallContext* context, int) {
    switch (id) {
        case kEnable:
        case kDisable:
        case kRefresh:
            PostCommand(NewCommand(this, id));
            return kZrkOk;
        case kSyncDB: {
            if (context == nullptr || context->GetEntryCount() == 0) return kZrkOk;
            IZRKCallEntry* entry = context->GetEntry(0);
            if (entry == nullptr) return kZrkOk;
            IZRKCallEntry* sub = entry->GetSubEntry(0);
            if (sub != nullptr) entry = sub;
            const char* text = entry->GetText();
            MCommandObject* command = NewCommand(this, id);
            command->AddCharBufferParam(text != nullptr ? text : "", nullptr);
            PostCommand(command);
            // The command holds its own copy: the host may have its text back.
            entry->ReturnText(text);
            return kZrkOk;
        }
        default:
            return kZrkUnknownCommand;
    }
}

int ZRK_CALL MVeltranoCalendarDevice::FreeText(char** text) {
    if (text == nullptr || *text == nullptr) return kZrkBadArgument;
    delete[] * text;
    *text = nullptr;
    return kZrkOk;
}

const char* ZRK_CALL MVeltranoCalendarDevice::GetDefinition() {
    if (module_ == nullptr) return nullptr;
    std::string text;
    if (!BuildDefinition(&text)) text = module_->CopyDefinition();
    std::lock_guard<std::mutex> guard(definitionLock_);
    definitionText_ = text;
    return definitionText_.c_str();
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedF(int, int) {
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarDevice::ReservedG(int, int) {
    return kZrkNotSupported;
}

// ---- the device's own operations ----

bool MVeltranoCalendarDevice::BuildDefinition(std::string* out) {
    if (out == nullptr || module_ == nullptr) return false;
    std::string moduleText = module_->CopyDefinition();
    TiXmlDocument document;
    document.Parse(moduleText.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error()) return false;
    TiXmlElement* device = document.FirstChildElement("Device");
    TiXmlElement* variables = device != nullptr ? device->FirstChildElement("Variables") : nullptr;
    if (variables == nullptr) {
        *out = moduleText;
        return false;
    }
    IZRKHostDevice* hostDevice = hostDevice_.load();
    for (TiXmlElement* variable = variables->FirstChildElement(); variable != nullptr;
         variable = variable->NextSiblingElement()) {
        const char* name = variable->Attribute("Name");
        if (hostDevice == nullptr || name == nullptr) continue;
        if (IHostVariable* found = hostDevice->GetVariable(name)) {
            variable->SetAttribute("InstanceID", found->GetInstanceId());
        }
    }
    *out = PrintElement(*document.RootElement());
    return true;
}

void MVeltranoCalendarDevice::ApplyServerUrl() {
    if (module_ == nullptr) return;
    std::wstring url = platform::AnsiToWide(GetSettings().url.Get());
    module_->GetRESTClient()->SetServerURL(url);
}

void MVeltranoCalendarDevice::LookUpStatusVariables() {
    statusWriter_.LookUpVariables(hostDevice_.load());
}

IHostVariable* MVeltranoCalendarDevice::GetStatusVariable(StatusVariable which) const {
    return statusWriter_.GetHandle(which);
}

CalendarDeviceSettings MVeltranoCalendarDevice::GetSettings() const {
    std::lock_guard<std::mutex> guard(settingsLock_);
    return settings_;
}

void MVeltranoCalendarDevice::SetSettings(const CalendarDeviceSettings& settings) {
    std::lock_guard<std::mutex> guard(settingsLock_);
    settings_ = settings;
}

bool MVeltranoCalendarDevice::ExecuteCommand(MCommandObject* command) {
    if (command == nullptr) return false;
    switch (command->GetCode()) {
        case kEnable:
            enabled_.store(true);
            break;
        case kDisable:
            enabled_.store(false);
            break;
        case kRefresh:
            scheduler_.RequestRefresh();
            break;
        case kSyncDB: {
            int size = 0;
            int type = 0;
            const void* text =
                command->GetParamCount() > 0 ? command->GetParamInfo(0, &size, &type) : nullptr;
            QueueSyncText(type == kParamCharBuffer ? static_cast<const char*>(text) : nullptr);
            scheduler_.RequestSync();
            break;
        }
        default:
            break;
    }
    CompleteCurrent();
    return true;
}

int MVeltranoCalendarDevice::OnTimer(uint32_t) {
    WatchdogPass();
    if (pacing_.IsElapsed()) pacing_.Start();
    return 0;
}

void MVeltranoCalendarDevice::QueueSyncText(const char* text) {
    // Each synchronisation mirrors one whole group, so only the last one made stands: the newest request
    // replaces any still pending.
    std::lock_guard<std::mutex> guard(syncTextsLock_);
    syncText_ = text != nullptr ? text : "";
}

int MVeltranoCalendarDevice::Run(MThread* thread) {
    while (!thread->IsStopRequested()) {
        if (WaitForCommand(SchedulerWaitMs())) {
            ExecutePending(thread);
            if (thread->IsStopRequested()) return 1;
        }
        // A disabled device only takes commands.
        if (!enabled_.load()) continue;
        RunSchedulerPass();
    }
    return 1;
}
