#include "Session.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "Host.h"
#include "HostFile.h"
#include "platform/SharedLibrary.h"

namespace zrkhost {

namespace {

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return !in.bad();
}

std::string Trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

// With --main-thread the main thread must go on completing calls while no command comes: the input is
// read on a thread of its own and handed over line by line.
class InputLines {
public:
    explicit InputLines(std::istream& input) : state_(std::make_shared<State>()) {
        // The reader owns its share of the state: it may stay blocked in a read after quit, until the
        // process ends it.
        std::shared_ptr<State> state = state_;
        std::thread([state, &input] {
            std::string line;
            while (std::getline(input, line)) {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->lines.push_back(line);
                state->changed.notify_all();
            }
            std::lock_guard<std::mutex> lock(state->mutex);
            state->ended = true;
            state->changed.notify_all();
        }).detach();
    }
    // The next line, waiting at most `ms`; false when none came (and *ended tells whether none will).
    bool Next(std::string* line, unsigned ms, bool* ended) {
        State& s = *state_;
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return !s.lines.empty() || s.ended; });
        *ended = s.ended && s.lines.empty();
        if (s.lines.empty()) return false;
        *line = s.lines.front();
        s.lines.pop_front();
        return true;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::string> lines;
        bool ended = false;
    };
    std::shared_ptr<State> state_;
};

// How often the main thread looks for calls due between commands, and how long it completes them before
// the device is stopped at the end.
constexpr unsigned kPumpMs = 10;
constexpr unsigned kSettleMs = 300;
constexpr unsigned kSettleLimitMs = 10000;

class Session {
public:
    Session(const Options& options, EventLog& log, Host& host) : options_(options), log_(log), host_(host) {}

    int Run(std::istream& input, const std::string& settingsText, ZrkEntryPointFn entry);

private:
    int Call(const char* name, int code) {
        log_.Result(name, code);
        return code;
    }
    bool StartUp(ZrkEntryPointFn entry, const std::string& settingsText);
    std::string DeviceSettings();
    void Save();
    void Load(const std::string& path);
    void TakeDown();
    bool Obey(const std::string& line);  // false for quit

    const Options& options_;
    EventLog& log_;
    Host& host_;
    IZRKModule* module_ = nullptr;
    IZRKDevice* device_ = nullptr;
};

bool Session::StartUp(ZrkEntryPointFn entry, const std::string& settingsText) {
    IZRKModule* first = nullptr;
    if (Call("GetZRKEntryPoint", entry(&first)) != kZrkOk || !first) {
        log_.Error("the plug-in gave no module");
        return false;
    }
    void* asked = nullptr;
    if (Call("QueryInterface", first->QueryInterface("IZRKModule", &asked)) != kZrkOk || !asked) {
        log_.Error("the module does not answer \"IZRKModule\"");
        Call("Release", first->Release());
        return false;
    }
    module_ = static_cast<IZRKModule*>(asked);
    Call("Initialize", module_->Initialize(host_.Root(), 0, 0));
    Call("SetHostReady", module_->SetHostReady(1));
    const char* definition = module_->GetDefinition();
    if (!definition) log_.Error("the module gave no definition");
    host_.DefineDeviceVariables(definition);
    IZRKDevice* device = nullptr;
    if (Call("CreateDevice", module_->CreateDevice(0, &device)) != kZrkOk || !device) {
        log_.Error("the module made no device");
        Call("Release", module_->Release());
        module_ = nullptr;
        return false;
    }
    device_ = device;
    device_->SetHostDevice(host_.HostDevice());
    std::string settings = settingsText;
    if (settings.empty()) {
        // No full settings given: the device's own values, with the given ones put in.
        settings = BuildSettings(options_, DeviceSettings());
    }
    Call("LoadSettings", device_->LoadSettings(settings.c_str()));
    Call("Start", device_->Start());
    return true;
}

std::string Session::DeviceSettings() {
    char* text = nullptr;
    std::string copy;
    if (Call("SaveSettings", device_->SaveSettings(&text)) == kZrkOk && text) {
        copy = text;
        Call("FreeText", device_->FreeText(&text));
    }
    return copy;
}

void Session::Save() {
    char* text = nullptr;
    if (Call("SaveSettings", device_->SaveSettings(&text)) != kZrkOk) return;
    if (!text) {
        log_.Error("SaveSettings succeeded without a text");
        return;
    }
    log_.Settings(text);
    Call("FreeText", device_->FreeText(&text));
}

void Session::Load(const std::string& path) {
    std::string text;
    if (path.empty()) {
        log_.Error("load needs a file");
        return;
    }
    if (!ReadFile(path, &text)) {
        log_.Error("cannot read " + path);
        return;
    }
    Call("LoadSettings", device_->LoadSettings(text.c_str()));
}

bool Session::Obey(const std::string& rawLine) {
    std::string line = Trim(rawLine);
    if (line.empty()) return true;
    size_t space = line.find_first_of(" \t");
    std::string word = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : Trim(line.substr(space));
    if (word == "quit") return false;
    if (word == "enable" || word == "disable" || word == "refresh") {
        int id = word == "enable" ? 0 : word == "disable" ? 1 : 2;
        Call("SendCommand", device_->SendCommand(id, nullptr, 0));
    } else if (word == "sync") {
        CallContext context(log_, {rest});
        Call("SendCommand", device_->SendCommand(3, &context, 0));
    } else if (word == "stop") {
        Call("Stop", device_->Stop());
    } else if (word == "start") {
        Call("Start", device_->Start());
    } else if (word == "save") {
        Save();
    } else if (word == "load") {
        Load(rest);
    } else if (word == "definition") {
        const char* text = device_->GetDefinition();
        if (text)
            log_.Definition(text);
        else
            log_.Error("the device gave no definition");
    } else if (word == "wait") {
        // Time passes for the host: with --main-thread, its main thread completes the calls due meanwhile.
        const int ms = std::atoi(rest.c_str());
        if (ms <= 0) {
            log_.Error("wait needs a number of milliseconds");
            return true;
        }
        host_.RunPending(unsigned(ms));
    } else if (word == "configure") {
        // The area of a host main window on a common screen.
        Rect rect(0, 0, 1280, 800);
        Call("Configure", device_->Configure(&rect));
    } else {
        log_.Error("unknown command: " + word);
    }
    return true;
}

void Session::TakeDown() {
    if (device_ && options_.mainThread) {
        // The calls queued before the end are completed first, as a UI thread handles its queue before
        // the closing: Stop waits for the device's host calls, which only this thread completes.
        for (unsigned spent = 0; spent < kSettleLimitMs; spent += kSettleMs) {
            if (host_.RunPending(kSettleMs) == 0 && host_.RunPending(kSettleMs) == 0) break;
        }
    }
    if (device_) {
        Call("Stop", device_->Stop());
        Call("Release", device_->Release());
        device_ = nullptr;
    }
    if (module_) {
        Call("Release", module_->Release());
        module_ = nullptr;
    }
}

int Session::Run(std::istream& input, const std::string& settingsText, ZrkEntryPointFn entry) {
    if (!StartUp(entry, settingsText)) return kExitPlugin;
    std::string line;
    if (options_.mainThread) {
        InputLines lines(input);
        bool ended = false;
        while (!ended) {
            host_.RunPending(0);
            if (lines.Next(&line, kPumpMs, &ended) && !Obey(line)) break;
        }
    } else {
        while (std::getline(input, line))
            if (!Obey(line)) break;
    }
    TakeDown();
    return kExitOk;
}

}  // namespace

std::string DefaultPluginPath() {
    return platform::RunningProgramFolder() + "/" + platform::SharedLibraryFileName("VeltranoCalendar");
}

int RunSession(const Options& options, std::istream& input, EventLog& log) {
    HostFile file;
    if (!options.hostFile.empty()) {
        std::string text, error;
        if (!ReadFile(options.hostFile, &text)) {
            log.Error("cannot read host file " + options.hostFile);
            return kExitUsage;
        }
        if (!ParseHostFile(text, &file, &error)) {
            log.Error(options.hostFile + ": " + error);
            return kExitUsage;
        }
    }
    std::string settings;
    if (!options.settingsFile.empty()) {
        if (!ReadFile(options.settingsFile, &settings)) {
            log.Error("cannot read settings file " + options.settingsFile);
            return kExitUsage;
        }
        if (settings.empty()) {
            log.Error("settings file " + options.settingsFile + " is empty");
            return kExitUsage;
        }
    } else if (options.hasServer && options.hasLocation && options.hasRefresh && options.hasLookahead) {
        settings = BuildSettings(options, "");
    }
    std::string path = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    // The host outlives the library's code only as far as no plug-in code runs after dlclose: the
    // library is closed first, and the host's objects afterwards.
    Host host(std::move(file), log, options.pendingMs, options.mainThread);
    int code;
    {
        // Closed when the session ends.
        platform::SharedLibrary library(path);
        if (!library.IsLoaded()) {
            log.Error("cannot load the plug-in " + path + ": " + library.Error());
            return kExitPlugin;
        }
        auto entry = reinterpret_cast<ZrkEntryPointFn>(library.Symbol(ZRK_ENTRY_POINT_NAME));
        if (!entry) {
            log.Error(path + " exports no " ZRK_ENTRY_POINT_NAME);
            return kExitPlugin;
        }
        Session session(options, log, host);
        code = session.Run(input, settings, entry);
        host.Shutdown();
    }
    return code;
}

}  // namespace zrkhost
