// A stand-in device plug-in for the zrkhost tests: a module and a device written only against the host
// SDK. Its "Sync DB" command text is a small script of host calls, run on the device's worker thread:
//   task NAME | stask NAME             start a task through the asynchronous / synchronous remote
//   request CODE ARG | srequest CODE ARG   a remote request through the asynchronous / synchronous remote
//   set NAME VALUE                     set a host variable (type 4 as a number)
//   enum NAME                          read a variable's enumeration texts
//   status NAME TEXT | time NAME HUNDREDTHS   write a device variable
//   theme INDEX                        read a theme colour (and whether the host offers a theme)
// Each call's outcome is reported as a JSON text in the device variable "LastEvent".
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "zrk/ZrkHost.h"

namespace {

const char* const kVariables[] = {"NextRefreshTime", "LastRefreshTime", "LastEvent",     "LastEventTime",
                                  "LastEventAction", "NextEvent",       "NextEventTime", "NextEventAction"};
constexpr int kVariableCount = 8;

const char kDefaultSettings[] =
    "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
    "\t<Setup Local=\"1\" URL=\"http://localhost:9256\" RefreshPeriod=\"10\" Lookahead=\"1\" "
    "LocationId=\"1\" />\n"
    "</DeviceData>\n";

std::string Definition(const int* ids) {
    std::string text =
        "<Device ID=\"\" Name=\"\">\n\t<Info>\n\t\t<Description />\n\t</Info>\n\t<Commands>\n"
        "\t\t<Command ID=\"0\" Name=\"Enable\" Version=\"0\" Status=\"Active\">\n"
        "\t\t\t<ObjectParams Version=\"0\" />\n\t\t</Command>\n\t</Commands>\n\t<Variables>\n";
    for (int i = 0; i < kVariableCount; ++i) {
        const char* kind = i < 2 ? "TimeData" : "StringData";
        text += std::string("\t\t<") + kind + " InstanceID=\"" + std::to_string(ids ? ids[i] : 0) +
                "\" Name=\"" + kVariables[i] + "\" />\n";
    }
    return text + "\t</Variables>\n</Device>\n";
}

// A context on the caller's stack, as a device's host calls use them.
class WaitContext final : public IExecContext2 {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        if (!name || !out) return kZrkNullArgument;
        *out = nullptr;
        if (!std::strcmp(name, "IMInterface") || !std::strcmp(name, "IExecContext") ||
            !std::strcmp(name, "IExecContext2"))
            *out = this;
        return *out ? 0 : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override {
        if (--references_ <= 0) underflow_ = true;  // a stack object: never destroyed through Release
        return 0;
    }
    IExecContext* ZRK_CALL SetResult(int code) override {
        result_ = code;
        return this;
    }
    IExecContext* ZRK_CALL Begin() override {
        std::lock_guard<std::mutex> lock(mutex_);
        begun_ = true;
        done_ = false;
        return this;
    }
    intptr_t ZRK_CALL Complete() override {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        completer_ = std::this_thread::get_id();
        wake_.notify_all();
        return reinterpret_cast<intptr_t>(this);
    }
    int ZRK_CALL ReservedA() override { return 0; }
    int ZRK_CALL ReservedB() override { return 0; }
    int ZRK_CALL AddRef() override { return ++references_; }
    int ZRK_CALL ReservedC() override { return 0; }
    int ZRK_CALL ReservedD(int, int, int) override { return 0; }
    void ZRK_CALL SetText(const char* text) override { text_ = text ? text : ""; }
    int ZRK_CALL GetState() override { return done_ ? 2 : begun_ ? 1 : 0; }

    // Waits for the host when it answered 21; fills the report.
    int Finish(int call, nlohmann::json& report) {
        auto start = std::chrono::steady_clock::now();
        report["call"] = call;
        if (call == kZrkPending) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!begun_) report["notBegun"] = true;
            wake_.wait(lock, [this] { return done_ || !begun_; });
            report["otherThread"] = completer_ != std::this_thread::get_id();
        }
        report["waitedMs"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        report["final"] = call == kZrkPending ? result_.load() : call;
        report["refs"] = references_.load();
        report["underflow"] = underflow_.load();
        return call == kZrkPending ? result_.load() : call;
    }
    const std::string& Text() const { return text_; }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool begun_ = false, done_ = false;
    std::thread::id completer_;
    std::atomic<int> result_{0};
    std::atomic<int> references_{1};
    std::atomic<bool> underflow_{false};
    std::string text_;
};

class Module;
Module* gModule = nullptr;

class Device final : public IZRKDevice {
public:
    Device(Module* module, IMInterface* host);
    ~Device();

    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        if (!name || !out) return kZrkNullArgument;
        *out = nullptr;
        if (!std::strcmp(name, "IMInterface") || !std::strcmp(name, "IZRKDevice")) *out = this;
        return *out ? 0 : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override;
    void ZRK_CALL SetHostDevice(IZRKHostDevice* hostDevice) override {
        Note("SetHostDevice");
        hostDevice_ = hostDevice;
    }
    int ZRK_CALL QueryCapability(int kind) override { return kind == 2 ? 0 : 24; }
    void ZRK_CALL SetName(const char*) override {}
    const char* ZRK_CALL GetName() override { return ""; }
    int ZRK_CALL Configure(IZRKRect* rect) override {
        if (rect)
            Report({{"action", "configure"}, {"right", rect->GetRight()}, {"bottom", rect->GetBottom()}});
        return kZrkCancelled;
    }
    int ZRK_CALL GetRunState() override { return running_ ? 772 : 24; }
    int ZRK_CALL Start() override;
    int ZRK_CALL Stop() override;
    int ZRK_CALL ReservedA(int, int) override { return 19; }
    ZrkBitmapHandle ZRK_CALL GetBitmap() override { return nullptr; }
    int ZRK_CALL SaveSettings(char** out) override {
        if (!out) return kZrkBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        *out = new char[settings_.size() + 1];
        std::memcpy(*out, settings_.c_str(), settings_.size() + 1);
        return 0;
    }
    int ZRK_CALL LoadSettings(const char* text) override {
        Note("LoadSettings");
        if (!text || !*text) return kZrkBadArgument;
        if (!std::strstr(text, "<DeviceData")) return kZrkDataRejected;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            settings_ = text;
        }
        for (int i = 0; i < kVariableCount; ++i)
            status_[i] = hostDevice_ ? hostDevice_->GetVariable(kVariables[i]) : nullptr;
        return 0;
    }
    int ZRK_CALL ReservedB(int, int) override { return 19; }
    int ZRK_CALL ReservedC(int) override { return 0; }
    int ZRK_CALL ReservedD(int) override { return 24; }
    int ZRK_CALL ReservedE(int, int, int) override { return 772; }
    int ZRK_CALL SendCommand(int id, IZRKCallContext* context, int) override;
    int ZRK_CALL FreeText(char** text) override {
        if (!text || !*text) return kZrkBadArgument;
        delete[] * text;
        *text = nullptr;
        return 0;
    }
    const char* ZRK_CALL GetDefinition() override {
        int ids[kVariableCount] = {};
        for (int i = 0; i < kVariableCount; ++i) {
            IHostVariable* v = hostDevice_ ? hostDevice_->GetVariable(kVariables[i]) : nullptr;
            ids[i] = v ? v->GetInstanceId() : 0;
        }
        definition_ = Definition(ids);
        return definition_.c_str();
    }
    int ZRK_CALL ReservedF(int, int) override { return 0; }
    int ZRK_CALL ReservedG(int, int) override { return 19; }

    void Note(const char* call);

private:
    void Post(const std::string& script) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(script);
        wake_.notify_all();
    }
    void Run();
    void Execute(const std::string& script);
    void Report(const nlohmann::json& report) {
        if (status_[2]) status_[2]->SetText(report.dump().c_str(), 0, 0);
    }

    Module* module_;
    IMInterface* host_;
    IKorrelRemote* remote_ = nullptr;
    IKorrelRemote2* remote2_ = nullptr;
    IVariableManager* variables_ = nullptr;
    IZRKHostDevice* hostDevice_ = nullptr;
    IHostVariable* status_[kVariableCount] = {};
    std::string settings_ = kDefaultSettings;
    std::string definition_;
    std::atomic<bool> running_{false};
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
};

class Module final : public IZRKModule {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        if (!name || !out) return kZrkNullArgument;
        *out = nullptr;
        if (!std::strcmp(name, "IZRKModule")) *out = this;
        return *out ? 0 : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override {
        gModule = nullptr;
        delete this;
        return 0;
    }
    int ZRK_CALL Initialize(IMInterface* host, int, int) override {
        Note("Initialize");
        host_ = host;
        return 0;
    }
    int ZRK_CALL Shutdown(int) override { return 0; }
    int ZRK_CALL SetHostReady(int value) override {
        Note("SetHostReady");
        ready_ = value;
        return 0;
    }
    const char* ZRK_CALL GetDefinition() override {
        Note("GetDefinition");
        definition_ = Definition(nullptr);
        return definition_.c_str();
    }
    int ZRK_CALL GetDeviceTypeCount(int* out) override {
        *out = 1;
        return 0;
    }
    int ZRK_CALL GetDeviceCount(uint32_t* out) override {
        *out = device_ ? 1 : 0;
        return 0;
    }
    int ZRK_CALL CreateDevice(int, IZRKDevice** out) override {
        Note("CreateDevice");
        if (!out || *out) return kZrkBadArgument;
        if (device_) return kZrkDeviceLimit;
        if (!ready_) return kZrkHostNotReady;
        device_ = new Device(this, host_);
        *out = device_;
        return 0;
    }
    IZRKDevice* ZRK_CALL GetDevice(uint32_t index) override { return index == 0 ? device_ : nullptr; }
    int ZRK_CALL Notify(int, int, int, int) override { return 0; }

    void Note(const char* call) {
        if (!order_.empty()) order_ += ",";
        order_ += call;
    }
    void DeviceGone() { device_ = nullptr; }
    const std::string& Order() const { return order_; }

private:
    IMInterface* host_ = nullptr;
    int ready_ = 0;
    Device* device_ = nullptr;
    std::string definition_;
    std::string order_;
};

Device::Device(Module* module, IMInterface* host) : module_(module), host_(host) {
    void* service = nullptr;
    if (host && host->QueryInterface(ZRK_REMOTE_MANAGER, &service) == 0 && service)
        remote_ = static_cast<IKorrelRemoteManager*>(service)->GetRemote();
    if (host && host->QueryInterface(ZRK_REMOTE_MANAGER2, &service) == 0 && service)
        remote2_ = static_cast<IKorrelRemoteManager2*>(service)->GetRemote(this);
    if (host && host->QueryInterface(ZRK_VARIABLE_MANAGER, &service) == 0 && service)
        variables_ = static_cast<IVariableManager*>(service);
}

Device::~Device() {
    if (remote_) remote_->Release();
    if (remote2_) remote2_->Release();
    module_->DeviceGone();
}

int Device::Release() {
    delete this;
    return 0;
}

void Device::Note(const char* call) {
    module_->Note(call);
}

int Device::Start() {
    Note("Start");
    if (remote2_) {
        WaitContext unsubscribe;
        nlohmann::json ignored;
        unsubscribe.Finish(remote2_->Unsubscribe(0, &unsubscribe, 0), ignored);
        remote2_->SetHandler(nullptr);
        WaitContext subscribe;
        subscribe.Finish(remote2_->Subscribe("GrantedRootGroup", "", &subscribe, 0), ignored);
    }
    Report({{"action", "start"}, {"order", module_->Order()}});
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    running_ = true;
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    return 0;
}

int Device::Stop() {
    running_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    return 0;
}

int Device::SendCommand(int id, IZRKCallContext* context, int) {
    if (id >= 0 && id <= 2) {
        Post(std::string("command ") + std::to_string(id));
        return 0;
    }
    if (id != 3) return kZrkUnknownCommand;
    if (!context || context->GetEntryCount() == 0) return 0;
    IZRKCallEntry* entry = context->GetEntry(0);
    if (!entry) return 0;
    if (IZRKCallEntry* sub = entry->GetSubEntry(0)) entry = sub;
    const char* text = entry->GetText();
    Post(text ? text : "");
    entry->ReturnText(text);
    return 0;
}

void Device::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Queued scripts run before a stop takes effect, so that a test sees all it asked for.
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::string script = queue_.front();
        queue_.pop_front();
        lock.unlock();
        Execute(script);
        lock.lock();
    }
}

void Device::Execute(const std::string& script) {
    size_t space = script.find(' ');
    std::string verb = script.substr(0, space);
    std::string rest = space == std::string::npos ? "" : script.substr(space + 1);
    size_t second = rest.find(' ');
    std::string first = rest.substr(0, second);
    std::string tail = second == std::string::npos ? "" : rest.substr(second + 1);
    nlohmann::json report = {{"action", verb}};
    if (verb == "command") {
        report["id"] = std::atoi(rest.c_str());
    } else if (verb == "task" && remote2_) {
        WaitContext context;
        context.Finish(remote2_->StartTask(rest.c_str(), &context, 0), report);
    } else if (verb == "stask" && remote_) {
        report["call"] = remote_->StartTask(rest.c_str());
    } else if (verb == "request" && remote2_) {
        WaitContext context;
        if (context.Finish(remote2_->Request(tail.c_str(), std::atoi(first.c_str()), &context, 0), report) ==
            0)
            report["reply"] = context.Text();
    } else if (verb == "srequest" && remote_) {
        char* reply = nullptr;
        report["call"] = remote_->Request(tail.c_str(), std::atoi(first.c_str()), &reply);
        if (reply) {
            report["reply"] = reply;
            report["freed"] = remote_->FreeReply(&reply);
            report["nulled"] = reply == nullptr;
        }
    } else if (verb == "set" || verb == "enum") {
        IHostVariable* v = variables_ ? variables_->GetVariable(first.c_str()) : nullptr;
        report["found"] = v != nullptr;
        if (v && verb == "set") {
            report["type"] = v->GetType();
            report["call"] = v->GetType() == kZrkVariableInteger
                                 ? v->SetInteger(std::atoi(tail.c_str()), 0, 0)
                                 : v->SetText(tail.c_str(), 0, 0);
        } else if (v) {
            void* e = nullptr;
            report["query"] = v->QueryInterface(ZRK_ENUM_DATA, &e);
            if (e) {
                IEnumData* data = static_cast<IEnumData*>(e);
                report["items"] = nlohmann::json::array();
                for (int i = 0; i < data->GetItemCount(); ++i)
                    report["items"].push_back(data->GetItemText(i));
                report["beyond"] = data->GetItemText(data->GetItemCount()) == nullptr;
            }
        }
    } else if (verb == "status" || verb == "time") {
        IHostVariable* v = hostDevice_ ? hostDevice_->GetVariable(first.c_str()) : nullptr;
        report["found"] = v != nullptr;
        if (v) {
            report["call"] = verb == "status"
                                 ? v->SetText(tail.c_str(), 0, 0)
                                 : v->SetTime(std::atoll(tail.c_str()), kZrkTimeBaseHundredths, 0, 0);
            return;  // the write itself is what the test looks for
        }
    } else if (verb == "theme") {
        void* theme = nullptr;
        report["query"] = host_ ? host_->QueryInterface(ZRK_THEME_MANAGER, &theme) : -1;
        if (theme) report["colour"] = static_cast<IThemeManager*>(theme)->GetColour(std::atoi(rest.c_str()));
        void* info = nullptr;
        if (host_ && host_->QueryInterface(ZRK_RUNTIME_INFO, &info) == 0 && info)
            report["window"] = static_cast<IKorrelRuntimeInfo*>(info)->GetMainWindow() != nullptr;
    } else {
        report["unknown"] = true;
    }
    Report(report);
}

}  // namespace

ZRK_EXPORT int ZRK_CALL GetZRKEntryPoint(IZRKModule** out) {
    if (!out) return kZrkBadArgument;
    if (!gModule) gModule = new Module;
    *out = gModule;
    return 0;
}
