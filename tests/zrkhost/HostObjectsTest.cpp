// The host's objects as the plug-in meets them, in-process: variables, the pending completion, the
// remote handles' bookkeeping, the command arguments, the event lines and the command line.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "EventLog.h"
#include "Host.h"
#include "Options.h"
#include "PendingQueue.h"

namespace zrkhost_test {
namespace {

using nlohmann::json;
using namespace zrkhost;

// An event log into a temporary file, read back line by line.
class CapturedLog {
public:
    CapturedLog(bool pretty = false) : file_(std::tmpfile()), log_(file_, pretty) {}
    ~CapturedLog() { std::fclose(file_); }
    EventLog& Log() { return log_; }
    std::string Text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        std::fseek(file_, 0, SEEK_END);
        return text;
    }
    std::vector<json> Events() {
        std::vector<json> events;
        std::string text = Text();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            events.push_back(json::parse(text.substr(start, end - start)));
            start = end + 1;
        }
        return events;
    }

private:
    std::FILE* file_;
    EventLog log_;
};

VariableSpec Spec(const std::string& name, VariableKind kind, std::vector<std::string> items = {}) {
    VariableSpec v;
    v.name = name;
    v.kind = kind;
    v.items = std::move(items);
    if (!v.items.empty()) v.text = v.items[0];
    return v;
}

TEST(HostVariables, IntegerVariableTakesWholeNumbersOnly) {
    CapturedLog out;
    UserVariable v(out.Log(), Spec("Volume", VariableKind::Integer), 1001);
    EXPECT_EQ(v.GetType(), kZrkVariableInteger);
    EXPECT_EQ(v.SetInteger(-7, 0, 0), 0);
    EXPECT_EQ(v.SetText(" 12 ", 0, 0), 0);
    EXPECT_EQ(v.SetText("12abc", 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetText("", 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetText("99999999999999999999999", 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetReal(2.5, 0, 0), 0);
    EXPECT_EQ(v.SetReal(1.0 / 0.0, 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetTime(100, 4, 0, 0), kZrkNotSupported);
    EXPECT_EQ(v.GetInstanceId(), 1001);
    auto e = out.Events();
    std::vector<json> values;
    for (const auto& x : e)
        if (x["what"] == "set") values.push_back(x["value"]);
    EXPECT_EQ(values, (std::vector<json>{-7, 12, 3}));
    size_t errors = 0;
    for (const auto& x : e) errors += x["what"] == "error";
    EXPECT_EQ(errors, 5u);
}

TEST(HostVariables, EnumerationTakesItsItemsByTextOrIndex) {
    CapturedLog out;
    UserVariable v(out.Log(), Spec("Mode", VariableKind::Enum, {"Day", "Night"}), 1002);
    void* e = nullptr;
    ASSERT_EQ(v.QueryInterface(ZRK_ENUM_DATA, &e), 0);
    IEnumData* data = static_cast<IEnumData*>(e);
    EXPECT_EQ(data->GetItemCount(), 2);
    EXPECT_STREQ(data->GetItemText(1), "Night");
    EXPECT_EQ(data->GetItemText(-1), nullptr);
    EXPECT_EQ(data->GetItemText(2), nullptr);
    EXPECT_EQ(v.SetText("Night", 0, 0), 0);
    EXPECT_EQ(v.SetText("night", 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetInteger(0, 0, 0), 0);
    EXPECT_EQ(v.SetInteger(2, 0, 0), kZrkBadArgument);
    EXPECT_EQ(v.SetText(nullptr, 0, 0), kZrkBadArgument);
    std::vector<json> values;
    for (const auto& x : out.Events())
        if (x["what"] == "set") values.push_back(x["value"]);
    EXPECT_EQ(values, (std::vector<json>{"Night", "Day"}));
    // Only an enumeration answers "IEnumData"; a null name is an argument fault.
    UserVariable text(out.Log(), Spec("Title", VariableKind::Text), 1003);
    EXPECT_EQ(text.QueryInterface(ZRK_ENUM_DATA, &e), kZrkUnknownInterface);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(text.QueryInterface(nullptr, &e), kZrkNullArgument);
    EXPECT_EQ(text.SetInteger(7, 0, 0), 0);
    EXPECT_EQ(out.Events().back()["value"], "7");
}

TEST(HostVariables, DeviceVariablesFollowTheDefinition) {
    CapturedLog out;
    Host host(HostFile{}, out.Log(), -1);
    host.DefineDeviceVariables(
        "<Device><Variables><StringData InstanceID=\"0\" Name=\"A\"/><Nameless/>"
        "<TimeData InstanceID=\"0\" Name=\"T\"/></Variables></Device>");
    IHostVariable* a = host.HostDevice()->GetVariable("A");
    IHostVariable* t = host.HostDevice()->GetVariable("T");
    ASSERT_TRUE(a && t);
    EXPECT_EQ(a->GetInstanceId(), 1);
    EXPECT_EQ(t->GetInstanceId(), 2);
    EXPECT_EQ(t->GetType(), kZrkVariableTime);
    EXPECT_EQ(host.HostDevice()->GetVariable("Nameless"), nullptr);
    EXPECT_EQ(host.HostDevice()->GetVariable(nullptr), nullptr);
    EXPECT_EQ(t->SetTime(150, 3, 0, 0), kZrkNotSupported);
    EXPECT_EQ(t->SetText("x", 0, 0), kZrkNotSupported);
    EXPECT_EQ(a->SetTime(150, 4, 0, 0), kZrkNotSupported);
    EXPECT_EQ(t->SetTime(-150, 4, 0, 0), 0);
    EXPECT_EQ(out.Events().back()["hundredths"], -150);

    // A definition that cannot be read still gives the device its usual eight.
    for (const char* bad : {static_cast<const char*>(nullptr), "<Device", "<Other><Variables/></Other>"}) {
        host.DefineDeviceVariables(bad);
        ASSERT_EQ(host.DeviceVariables().size(), 8u);
        EXPECT_EQ(host.DeviceVariables()[0]->Name(), "NextRefreshTime");
        EXPECT_TRUE(host.DeviceVariables()[1]->IsTime());
        EXPECT_EQ(host.DeviceVariables()[7]->Name(), "NextEventAction");
        EXPECT_EQ(host.HostDevice()->GetVariable("NextEventAction")->GetInstanceId(), 8);
    }
}

TEST(HostServices, RootAnswersItsServicesByName) {
    CapturedLog out;
    HostFile file;
    Host plain(file, out.Log(), -1);
    void* p = reinterpret_cast<void*>(1);
    for (const char* name :
         {ZRK_RUNTIME_INFO, ZRK_REMOTE_MANAGER, ZRK_REMOTE_MANAGER2, ZRK_VARIABLE_MANAGER}) {
        EXPECT_EQ(plain.Root()->QueryInterface(name, &p), 0) << name;
        EXPECT_NE(p, nullptr);
    }
    EXPECT_EQ(plain.Root()->QueryInterface(ZRK_THEME_MANAGER, &p), kZrkUnknownInterface);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(plain.Root()->QueryInterface("ivariablemanager", &p), kZrkUnknownInterface);
    EXPECT_EQ(plain.Root()->QueryInterface(nullptr, &p), kZrkNullArgument);
    EXPECT_EQ(plain.Root()->QueryInterface(ZRK_VARIABLE_MANAGER, nullptr), kZrkNullArgument);
    file.hasTheme = true;
    Host themed(file, out.Log(), -1);
    EXPECT_EQ(themed.Root()->QueryInterface(ZRK_THEME_MANAGER, &p), 0);
}

TEST(HostServices, RemoteHandlesLeftUnreleasedAreReported) {
    CapturedLog out;
    Host host(HostFile{}, out.Log(), -1);
    SyncRemote* sync = host.NewSyncRemote();
    AsyncRemote* async = host.NewAsyncRemote();
    EXPECT_EQ(sync->Release(), 0);
    EXPECT_EQ(sync->Release(), kZrkBadArgument);  // one reference was handed out, not two
    host.Shutdown();
    auto events = out.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[1]["message"].get<std::string>().find("1 remote handle"), std::string::npos);
    EXPECT_EQ(async->Release(), 0);
    char* reply = nullptr;
    EXPECT_EQ(sync->Request("GrantedRootGroup", 27, &reply), 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(sync->FreeReply(&reply), 0);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(sync->FreeReply(&reply), kZrkBadArgument);
    EXPECT_EQ(sync->Request("Nowhere", 7, &reply), kZrkBadArgument);
    EXPECT_EQ(reply, nullptr);
}

TEST(HostServices, CallContextTakesBackOnlyTheTextItGave) {
    CapturedLog out;
    CallContext context(out.Log(), {"Stage"});
    ASSERT_EQ(context.GetEntryCount(), 1);
    EXPECT_EQ(context.GetEntry(1), nullptr);
    EXPECT_EQ(context.GetEntry(-1), nullptr);
    IZRKCallEntry* entry = context.GetEntry(0);
    EXPECT_EQ(entry->GetSubEntry(0), nullptr);
    const char* text = entry->GetText();
    EXPECT_STREQ(text, "Stage");
    std::string copy = text;
    EXPECT_EQ(entry->ReturnText(copy.c_str()), kZrkBadArgument);
    EXPECT_EQ(entry->ReturnText(text), 0);
    EXPECT_EQ(out.Events().size(), 1u);
}

// A context as a device keeps it: counts references and records the order of the host's calls.
class RecordingContext final : public IExecContext2 {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        *out = offersText ? this : nullptr;
        (void)name;
        return offersText ? 0 : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override {
        Note("Release");
        return --references;
    }
    IExecContext* ZRK_CALL SetResult(int code) override {
        result = code;
        Note("SetResult");
        return this;
    }
    IExecContext* ZRK_CALL Begin() override {
        Note("Begin");
        return this;
    }
    intptr_t ZRK_CALL Complete() override {
        std::lock_guard<std::mutex> lock(mutex);
        calls += "Complete";
        completer = std::this_thread::get_id();
        done = true;
        wake.notify_all();
        return 0;
    }
    int ZRK_CALL ReservedA() override { return 0; }
    int ZRK_CALL ReservedB() override { return 0; }
    int ZRK_CALL AddRef() override {
        Note("AddRef");
        return ++references;
    }
    int ZRK_CALL ReservedC() override { return 0; }
    int ZRK_CALL ReservedD(int, int, int) override { return 0; }
    void ZRK_CALL SetText(const char* t) override {
        text = t;
        Note("SetText");
    }
    int ZRK_CALL GetState() override { return 0; }

    void Note(const char* call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls += call;
        calls += ",";
    }
    bool WaitDone(int ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
    }

    bool offersText = true;
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::string calls;
    std::string text;
    int result = -1;
    std::atomic<int> references{1};
    std::thread::id completer;
};

TEST(PendingCalls, CompleteAfterTheDelayFromAnotherThreadInTheHostsOrder) {
    PendingQueue queue(60);
    RecordingContext context;
    auto posted = std::chrono::steady_clock::now();
    queue.Post(&context, [](std::string* text) {
        *text = "<Objects />";
        return 0;
    });
    {
        std::lock_guard<std::mutex> lock(context.mutex);
        // Begun before the caller ever sees 21, so its wait cannot miss the completion.
        EXPECT_EQ(context.calls, "Begin,AddRef,");
    }
    ASSERT_TRUE(context.WaitDone(5000));
    EXPECT_GE(std::chrono::steady_clock::now() - posted, std::chrono::milliseconds(55));
    EXPECT_NE(context.completer, std::this_thread::get_id());
    EXPECT_EQ(context.calls, "Begin,AddRef,SetResult,SetText,Release,Complete");
    EXPECT_EQ(context.references, 1);
    EXPECT_EQ(context.result, 0);
    EXPECT_EQ(context.text, "<Objects />");
    EXPECT_EQ(queue.Shutdown(), 0u);
}

TEST(PendingCalls, ContextWithoutTextStillCompletesAndShutdownDropsTheRest) {
    PendingQueue queue(0);
    RecordingContext plain;
    plain.offersText = false;
    queue.Post(&plain, [](std::string*) { return 1; });
    ASSERT_TRUE(plain.WaitDone(5000));
    EXPECT_EQ(plain.calls, "Begin,SetResult,Complete");
    EXPECT_EQ(plain.result, 1);

    PendingQueue slow(60000);
    RecordingContext never;
    slow.Post(&never, [](std::string*) { return 0; });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(slow.Shutdown(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(never.calls, "Begin,AddRef,");  // dropped untouched
}

TEST(PendingCalls, HostAnswersAtOnceWithoutPendingAndQueuesWithIt) {
    CapturedLog out;
    HostFile file;
    file.tasks = {"Show A"};
    Host now(file, out.Log(), -1);
    RecordingContext context;
    EXPECT_EQ(now.NewAsyncRemote()->StartTask("Nope", &context, 0), 1);
    EXPECT_EQ(context.result, 1);
    EXPECT_EQ(now.NewAsyncRemote()->StartTask("Show A", nullptr, 0), 0);

    Host later(file, out.Log(), 10);
    RecordingContext pending;
    AsyncRemote* remote = later.NewAsyncRemote();
    EXPECT_EQ(remote->Request("GrantedRootGroup", 27, &pending, 0), kZrkPending);
    ASSERT_TRUE(pending.WaitDone(5000));
    EXPECT_EQ(pending.result, 0);
    EXPECT_NE(pending.text.find("User Groups"), std::string::npos);
    // Without a context there is nothing to complete later: the answer comes at once.
    EXPECT_EQ(remote->StartTask("Show A", nullptr, 0), 0);
}

TEST(EventLines, JsonCarriesTimeKindAndFieldsAndSurvivesStrayBytes) {
    CapturedLog out;
    out.Log().StatusText("LastEvent", std::string("caf\xe9\xff", 5));
    out.Log().Result("Start", 0);
    out.Log().StatusTime("NextRefreshTime", 5281500);
    std::string text = out.Text();
    EXPECT_EQ(text.substr(text.find("\"what\"")),
              "\"what\":\"status\",\"name\":\"LastEvent\",\"value\":\"caf\xef\xbf\xbd\xef\xbf\xbd\"}\n" +
                  text.substr(text.find("{\"at\"", 1)));
    auto events = out.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1]["call"], "Start");
    EXPECT_EQ(events[2]["hundredths"], 5281500);

    CapturedLog pretty(true);
    pretty.Log().Settings("<A>\n\t<B />\n</A>\n");
    pretty.Log().Error("broken");
    std::string lines = pretty.Text();
    EXPECT_NE(lines.find("  settings   \n    <A>\n    \t<B />\n    </A>\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("  error      broken\n"), std::string::npos) << lines;
}

TEST(CommandLine, OptionsAndTheirFaults) {
    Options o;
    std::string error;
    const char* full[] = {"zrkhost",    "--plugin",   "p.so", "--host",    "h.json", "--server",
                          "http://x:1", "--location", "-3",   "--pending", "0",      "--pretty"};
    ASSERT_TRUE(ParseOptions(12, full, &o, &error)) << error;
    EXPECT_EQ(o.plugin, "p.so");
    EXPECT_EQ(o.location, -3);
    EXPECT_TRUE(o.hasLocation && o.hasServer && !o.hasRefresh && o.pretty);
    EXPECT_EQ(o.pendingMs, 0);
    const char* missing[] = {"zrkhost", "--host"};
    EXPECT_FALSE(ParseOptions(2, missing, &o, &error));
    const char* negative[] = {"zrkhost", "--pending", "-1"};
    EXPECT_FALSE(ParseOptions(3, negative, &o, &error));
    const char* huge[] = {"zrkhost", "--refresh", "99999999999"};
    EXPECT_FALSE(ParseOptions(3, huge, &o, &error));
    const char* both[] = {"zrkhost", "--lookahead", "2", "--settings", "s.xml"};
    EXPECT_FALSE(ParseOptions(5, both, &o, &error));
    EXPECT_NE(error.find("--settings"), std::string::npos);
    const char* mainThread[] = {"zrkhost", "--pending", "5", "--main-thread"};
    ASSERT_TRUE(ParseOptions(4, mainThread, &o, &error)) << error;
    EXPECT_TRUE(o.mainThread);
    EXPECT_FALSE(ParseOptions(2, mainThread + 2, &o, &error));  // without --pending
}

TEST(CommandLine, SettingsKeepTheDevicesOtherValuesAndAttributeOrder) {
    Options o;
    o.hasRefresh = true;
    o.refresh = 30;
    std::string base =
        "<DeviceData Version=\"1000\" Name=\"Dev\" DeviceInternalVersion=\"1\">\n"
        "\t<Setup Local=\"0\" URL=\"http://a\" RefreshPeriod=\"10\" Lookahead=\"1\" LocationId=\"2\" />\n"
        "</DeviceData>\n";
    EXPECT_EQ(
        BuildSettings(o, base),
        "<DeviceData Version=\"1000\" Name=\"Dev\" DeviceInternalVersion=\"1\">\n"
        "\t<Setup Local=\"0\" URL=\"http://a\" RefreshPeriod=\"30\" Lookahead=\"1\" LocationId=\"2\" />\n"
        "</DeviceData>\n");
    // Unreadable device text: a fresh element with only what was given.
    EXPECT_EQ(BuildSettings(o, "<DeviceData"),
              "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
              "\t<Setup Local=\"1\" RefreshPeriod=\"30\" />\n</DeviceData>\n");
    o.hasServer = true;
    o.server = "http://a&b\"";
    TiXmlDocument doc;
    doc.Parse(BuildSettings(o, "").c_str(), nullptr, TIXML_ENCODING_UTF8);
    ASSERT_FALSE(doc.Error());
    EXPECT_STREQ(doc.RootElement()->FirstChildElement("Setup")->Attribute("URL"), "http://a&b\"");
}

}  // namespace
}  // namespace zrkhost_test
