#include "Host.h"

#include <tinyxml.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "HostReplies.h"

namespace zrkhost {

namespace {

// QueryInterface of a host object that answers to its own name and "IMInterface", without a reference.
int Answer(const char* name, void** out, const char* own, IMInterface* self) {
    if (!name || !out) return kZrkNullArgument;
    *out = nullptr;
    if (std::strcmp(name, own) == 0 || std::strcmp(name, "IMInterface") == 0) {
        *out = self;
        return kZrkOk;
    }
    return kZrkUnknownInterface;
}

// A whole decimal number with optional white space around it and a sign; false for anything else.
bool ParseWhole(const char* text, int64_t* out) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    *out = value;
    return true;
}

std::string Show(const char* text) {
    return text ? text : "(null)";
}

// The calendar device's own variables, in the order of its definition.
const char* const kDefaultStatus[] = {"NextRefreshTime", "LastRefreshTime", "LastEvent",
                                      "LastEventTime",   "LastEventAction", "NextEvent",
                                      "NextEventTime",   "NextEventAction"};

}  // namespace

// ---- variables ----

UserVariable::UserVariable(EventLog& log, VariableSpec spec, int instanceId)
    : log_(log), spec_(std::move(spec)), instanceId_(instanceId) {}

int UserVariable::QueryInterface(const char* name, void** out) {
    if (!name || !out) return kZrkNullArgument;
    *out = nullptr;
    if (std::strcmp(name, "IMInterface") == 0) {
        *out = static_cast<IHostVariable*>(this);
    } else if (std::strcmp(name, ZRK_ENUM_DATA) == 0 && spec_.kind == VariableKind::Enum) {
        *out = static_cast<IEnumData*>(this);
    }
    return *out ? kZrkOk : kZrkUnknownInterface;
}

int UserVariable::GetType() {
    switch (spec_.kind) {
        case VariableKind::Integer:
            return kZrkVariableInteger;
        case VariableKind::Enum:
            return kZrkVariableEnum;
        case VariableKind::Text:
            break;
    }
    return kZrkVariableText;
}

int UserVariable::Refuse(const std::string& why, int code) {
    log_.Error("variable \"" + spec_.name + "\": " + why);
    return code;
}

int UserVariable::SetInteger(int value, int, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (spec_.kind) {
        case VariableKind::Integer:
            spec_.number = value;
            log_.SetInteger(spec_.name, value);
            return kZrkOk;
        case VariableKind::Enum:
            // An enumeration takes a number as the index of its item.
            if (value < 0 || size_t(value) >= spec_.items.size())
                return Refuse("no item " + std::to_string(value), kZrkBadArgument);
            spec_.text = spec_.items[size_t(value)];
            break;
        case VariableKind::Text:
            spec_.text = std::to_string(value);
            break;
    }
    log_.SetText(spec_.name, spec_.text);
    return kZrkOk;
}

int UserVariable::SetReal(double value, int, int) {
    if (spec_.kind == VariableKind::Integer) {
        if (!std::isfinite(value) || std::fabs(value) > 9.2e18)
            return Refuse("number out of range", kZrkBadArgument);
        std::lock_guard<std::mutex> lock(mutex_);
        spec_.number = std::llround(value);
        log_.SetInteger(spec_.name, spec_.number);
        return kZrkOk;
    }
    if (spec_.kind == VariableKind::Enum) return Refuse("an enumeration takes no fraction", kZrkBadArgument);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    std::lock_guard<std::mutex> lock(mutex_);
    spec_.text = buffer;
    log_.SetText(spec_.name, spec_.text);
    return kZrkOk;
}

int UserVariable::SetText(const char* text, int, int) {
    if (!text) return Refuse("null text", kZrkBadArgument);
    std::lock_guard<std::mutex> lock(mutex_);
    switch (spec_.kind) {
        case VariableKind::Integer: {
            int64_t number = 0;
            if (!ParseWhole(text, &number)) return Refuse("\"" + std::string(text) + "\" is not a number", 2);
            spec_.number = number;
            log_.SetInteger(spec_.name, number);
            return kZrkOk;
        }
        case VariableKind::Enum: {
            bool known = false;
            for (const auto& item : spec_.items) known = known || item == text;
            if (!known)
                return Refuse("\"" + std::string(text) + "\" is not one of its items", kZrkBadArgument);
            break;
        }
        case VariableKind::Text:
            break;
    }
    spec_.text = text;
    log_.SetText(spec_.name, spec_.text);
    return kZrkOk;
}

int UserVariable::SetTime(int64_t, int, int, int) {
    return Refuse("holds no time", kZrkNotSupported);
}

const char* UserVariable::GetItemText(int index) {
    if (index < 0 || size_t(index) >= spec_.items.size()) return nullptr;
    return spec_.items[size_t(index)].c_str();
}

int UserVariable::GetItemCount() {
    return int(spec_.items.size());
}

int StatusVariable::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IMInterface", this);
}

int StatusVariable::Refuse(const std::string& why) {
    log_.Error("device variable \"" + name_ + "\": " + why);
    return kZrkNotSupported;
}

int StatusVariable::SetInteger(int value, int, int) {
    if (isTime_) return Refuse("holds a time, not a number");
    log_.StatusText(name_, std::to_string(value));
    return kZrkOk;
}

int StatusVariable::SetReal(double value, int, int) {
    if (isTime_) return Refuse("holds a time, not a number");
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    log_.StatusText(name_, buffer);
    return kZrkOk;
}

int StatusVariable::SetText(const char* text, int, int) {
    if (isTime_) return Refuse("holds a time, not a text");
    if (!text) return Refuse("null text");
    log_.StatusText(name_, text);
    return kZrkOk;
}

int StatusVariable::SetTime(int64_t value, int timeBase, int, int) {
    if (!isTime_) return Refuse("holds a text, not a time");
    if (timeBase != kZrkTimeBaseHundredths)
        return Refuse("time base " + std::to_string(timeBase) + " unknown");
    log_.StatusTime(name_, value);
    return kZrkOk;
}

// ---- remote handles ----

int SyncRemote::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IKorrelRemote", this);
}

int SyncRemote::Release() {
    if (references_.fetch_sub(1) <= 0) {
        references_.fetch_add(1);
        host_.Log().Error("remote handle released more often than handed out");
        return kZrkBadArgument;
    }
    return kZrkOk;
}

int SyncRemote::StartTask(const char* name) {
    return host_.StartTask(name);
}

int SyncRemote::Subscribe(IKorrelRemoteHandler* handler, const char*) {
    handler_.store(handler);
    return kZrkOk;
}

int SyncRemote::Unsubscribe() {
    handler_.store(nullptr);
    return kZrkOk;
}

int SyncRemote::Request(const char* text, int code, char** reply) {
    if (!reply) return kZrkBadArgument;
    *reply = nullptr;
    std::string answer;
    int result = host_.Request(text, code, &answer);
    if (result != kZrkOk) return result;
    *reply = new char[answer.size() + 1];
    std::memcpy(*reply, answer.c_str(), answer.size() + 1);
    return kZrkOk;
}

int SyncRemote::FreeReply(char** reply) {
    if (!reply || !*reply) return kZrkBadArgument;
    delete[] * reply;
    *reply = nullptr;
    return kZrkOk;
}

int AsyncRemote::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IKorrelRemote2", this);
}

int AsyncRemote::Release() {
    if (references_.fetch_sub(1) <= 0) {
        references_.fetch_add(1);
        host_.Log().Error("remote handle released more often than handed out");
        return kZrkBadArgument;
    }
    return kZrkOk;
}

int AsyncRemote::SetHandler(IKorrelRemoteHandler* handler) {
    handler_.store(handler);
    return kZrkOk;
}

int AsyncRemote::Subscribe(const char* root, const char*, IExecContext* context, int) {
    bool known = root != nullptr;
    return host_.Dispatch(context, [known](std::string*) { return known ? kZrkOk : kZrkBadArgument; });
}

int AsyncRemote::Unsubscribe(int, IExecContext* context, int) {
    return host_.Dispatch(context, [](std::string*) { return kZrkOk; });
}

int AsyncRemote::StartTask(const char* name, IExecContext* context, int) {
    if (!name) return host_.StartTask(nullptr);
    std::string task = name;  // the caller's text may be gone when the call completes
    return host_.Dispatch(context, [this, task](std::string*) { return host_.StartTask(task.c_str()); });
}

int AsyncRemote::Request(const char* text, int code, IExecContext* context, int) {
    if (!text) return host_.Request(nullptr, code, nullptr);
    std::string argument = text;
    return host_.Dispatch(context, [this, argument, code](std::string* reply) {
        return host_.Request(argument.c_str(), code, reply);
    });
}

// ---- command arguments and rectangle ----

CallContext::CallContext(EventLog& log, const std::vector<std::string>& texts) {
    for (const auto& text : texts) entries_.push_back(std::make_unique<Entry>(log, text));
}

int CallContext::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IZRKCallContext", this);
}

IZRKCallEntry* CallContext::GetEntry(int index) {
    if (index < 0 || size_t(index) >= entries_.size()) return nullptr;
    return entries_[size_t(index)].get();
}

int CallContext::Entry::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IZRKCallEntry", this);
}

int CallContext::Entry::ReturnText(const char* text) {
    if (text != text_.c_str()) {
        log_.Error("call context: a text was handed back that the entry never gave out");
        return kZrkBadArgument;
    }
    return kZrkOk;
}

int Rect::QueryInterface(const char* name, void** out) {
    return Answer(name, out, "IZRKRect", this);
}

// ---- the host's services ----

class Host::RootObject final : public IMInterface {
public:
    explicit RootObject(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        if (!name || !out) return kZrkNullArgument;
        *out = nullptr;
        if (std::strcmp(name, "IMInterface") == 0) *out = static_cast<IMInterface*>(this);
        if (std::strcmp(name, ZRK_RUNTIME_INFO) == 0) *out = host_.runtimeInfo_.get();
        if (std::strcmp(name, ZRK_REMOTE_MANAGER) == 0) *out = host_.remoteManager_.get();
        if (std::strcmp(name, ZRK_REMOTE_MANAGER2) == 0) *out = host_.remoteManager2_.get();
        if (std::strcmp(name, ZRK_VARIABLE_MANAGER) == 0) *out = host_.variableManager_.get();
        if (std::strcmp(name, ZRK_THEME_MANAGER) == 0)
            *out = host_.themeManager_.get();  // null without theme
        return *out ? kZrkOk : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override { return 0; }

private:
    Host& host_;
};

class Host::RuntimeInfo final : public IKorrelRuntimeInfo {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, ZRK_RUNTIME_INFO, this);
    }
    int ZRK_CALL Release() override { return 0; }
    // A host without windows of its own: the plug-in's dialogs have no owner.
    ZrkWindowHandle ZRK_CALL GetMainWindow() override { return nullptr; }
};

class Host::RemoteManager final : public IKorrelRemoteManager {
public:
    explicit RemoteManager(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, ZRK_REMOTE_MANAGER, this);
    }
    int ZRK_CALL Release() override { return 0; }
    IKorrelRemote* ZRK_CALL GetRemote() override { return host_.NewSyncRemote(); }

private:
    Host& host_;
};

class Host::RemoteManager2 final : public IKorrelRemoteManager2 {
public:
    explicit RemoteManager2(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, ZRK_REMOTE_MANAGER2, this);
    }
    int ZRK_CALL Release() override { return 0; }
    IKorrelRemote2* ZRK_CALL GetRemote(IZRKDevice*) override { return host_.NewAsyncRemote(); }

private:
    Host& host_;
};

class Host::VariableManager final : public IVariableManager {
public:
    explicit VariableManager(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, ZRK_VARIABLE_MANAGER, this);
    }
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override {
        if (!name) return nullptr;
        for (const auto& v : host_.variables_)
            if (v->Name() == name) return v.get();
        return nullptr;
    }

private:
    Host& host_;
};

class Host::ThemeManager final : public IThemeManager {
public:
    explicit ThemeManager(const std::map<int, ZrkColour>& colours) : colours_(colours) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, ZRK_THEME_MANAGER, this);
    }
    int ZRK_CALL Release() override { return 0; }
    ZrkColour ZRK_CALL GetColour(int index) override {
        auto it = colours_.find(index);
        return it == colours_.end() ? 0 : it->second;
    }

private:
    const std::map<int, ZrkColour> colours_;
};

class Host::DeviceObject final : public IZRKHostDevice {
public:
    explicit DeviceObject(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        return Answer(name, out, "IZRKHostDevice", this);
    }
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override {
        if (!name) return nullptr;
        for (const auto& v : host_.status_)
            if (v->Name() == name) return v.get();
        return nullptr;
    }

private:
    Host& host_;
};

Host::Host(HostFile file, EventLog& log, int pendingMs, bool mainThread) : file_(std::move(file)), log_(log) {
    if (pendingMs >= 0) pending_ = std::make_unique<PendingQueue>(unsigned(pendingMs), mainThread);
    int id = kFirstUserInstanceId;
    for (const auto& spec : file_.variables)
        variables_.push_back(std::make_unique<UserVariable>(log_, spec, id++));
    root_ = std::make_unique<RootObject>(*this);
    runtimeInfo_ = std::make_unique<RuntimeInfo>();
    remoteManager_ = std::make_unique<RemoteManager>(*this);
    remoteManager2_ = std::make_unique<RemoteManager2>(*this);
    variableManager_ = std::make_unique<VariableManager>(*this);
    if (file_.hasTheme) themeManager_ = std::make_unique<ThemeManager>(file_.theme);
    deviceObject_ = std::make_unique<DeviceObject>(*this);
}

Host::~Host() {
    if (pending_) pending_->Shutdown();
}

IMInterface* Host::Root() {
    return root_.get();
}

IZRKHostDevice* Host::HostDevice() {
    return deviceObject_.get();
}

void Host::DefineDeviceVariables(const char* definition) {
    status_.clear();
    TiXmlDocument doc;
    if (definition) doc.Parse(definition, nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement* device = definition && !doc.Error() ? doc.RootElement() : nullptr;
    TiXmlElement* vars = device && std::strcmp(device->Value(), "Device") == 0
                             ? device->FirstChildElement("Variables")
                             : nullptr;
    int id = 1;
    for (TiXmlElement* v = vars ? vars->FirstChildElement() : nullptr; v; v = v->NextSiblingElement()) {
        const char* name = v->Attribute("Name");
        if (!name) continue;
        bool isTime = std::strcmp(v->Value(), "TimeData") == 0;
        status_.push_back(std::make_unique<StatusVariable>(log_, name, isTime, id++));
    }
    if (!status_.empty()) return;
    log_.Error("the device definition declares no variables; the usual eight are assumed");
    for (const char* name : kDefaultStatus) {
        bool isTime = std::strstr(name, "RefreshTime") != nullptr;
        status_.push_back(std::make_unique<StatusVariable>(log_, name, isTime, id++));
    }
}

int Host::StartTask(const char* name) {
    int result = kZrkBadArgument;
    if (name) {
        result = kZrkUnknownCommand;
        for (const auto& task : file_.tasks)
            if (task == name) result = kZrkOk;
    }
    log_.Task(Show(name), result);
    return result;
}

int Host::Request(const char* text, int code, std::string* reply) {
    std::string ignored;
    return AnswerRequest(file_, text, code, reply ? reply : &ignored);
}

int Host::Dispatch(IExecContext* context, PendingQueue::Work work) {
    // A host that completes calls on its UI thread answers that thread's own calls at once: it would
    // otherwise wait for itself.
    if (pending_ && context && !pending_->IsCompletingThread()) {
        pending_->Post(context, std::move(work));
        return kZrkPending;
    }
    std::string text;
    int result = work(&text);
    if (context) {
        void* second = nullptr;
        if (context->QueryInterface("IExecContext2", &second) == kZrkOk && second)
            static_cast<IExecContext2*>(second)->SetText(text.c_str());
        context->SetResult(result);
    }
    return result;
}

size_t Host::RunPending(unsigned ms) {
    if (pending_ && pending_->IsCompletingThread()) return pending_->RunDue(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return 0;
}

SyncRemote* Host::NewSyncRemote() {
    std::lock_guard<std::mutex> lock(remotesMutex_);
    syncRemotes_.push_back(std::make_unique<SyncRemote>(*this));
    return syncRemotes_.back().get();
}

AsyncRemote* Host::NewAsyncRemote() {
    std::lock_guard<std::mutex> lock(remotesMutex_);
    asyncRemotes_.push_back(std::make_unique<AsyncRemote>(*this));
    return asyncRemotes_.back().get();
}

void Host::Shutdown() {
    if (pending_) {
        size_t dropped = pending_->Shutdown();
        if (dropped) log_.Error(std::to_string(dropped) + " pending call(s) were never completed");
    }
    std::lock_guard<std::mutex> lock(remotesMutex_);
    int kept = 0;
    for (const auto& r : syncRemotes_) kept += r->References();
    for (const auto& r : asyncRemotes_) kept += r->References();
    if (kept) log_.Error(std::to_string(kept) + " remote handle reference(s) were never released");
}

}  // namespace zrkhost
