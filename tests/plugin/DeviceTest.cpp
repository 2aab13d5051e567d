// The calendar device through IZRKDevice, inside the loaded library: fixed answers, settings text,
// commands, definition and bitmap.
#include <tinyxml.h>

#include <cstring>
#include <thread>

#include "PluginLibrary.h"
#include "platform/DeviceBitmap.h"
#include "platform/Resources.h"

namespace plugin_test {
namespace {

const char kDefaultSettings[] =
    "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
    "\t<Setup Local=\"1\" URL=\"http://127.0.0.1:9256\" RefreshPeriod=\"10\" Lookahead=\"1\" "
    "LocationId=\"1\" "
    "/>\n"
    "</DeviceData>\n";

std::string SettingsWith(const std::string& setupAttributes,
                         const std::string& rootAttributes = "Version=\"1000\" Name=\"Hall\"") {
    return "<DeviceData " + rootAttributes + "><Setup " + setupAttributes + "/></DeviceData>";
}

using DeviceAnswers = PluginLibraryTest;

TEST_F(DeviceAnswers, InterfaceNamesCapabilitiesAndReservedSlots) {
    ASSERT_NE(NewDevice(), nullptr);
    void* out = nullptr;
    EXPECT_EQ(device_->QueryInterface("IZRKDevice", &out), kZrkOk);
    EXPECT_EQ(out, static_cast<void*>(device_));
    out = nullptr;
    EXPECT_EQ(device_->QueryInterface("IMInterface", &out), kZrkOk);
    EXPECT_EQ(out, static_cast<void*>(device_));
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(device_->QueryInterface("IZRKModule", &out), kZrkUnknownInterface);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(device_->QueryInterface(nullptr, &out), kZrkNullArgument);
    EXPECT_EQ(device_->QueryInterface("IZRKDevice", nullptr), kZrkNullArgument);

    EXPECT_EQ(device_->QueryCapability(2), kZrkOk);
    EXPECT_EQ(device_->QueryCapability(0), kZrkStateAnswer);
    EXPECT_EQ(device_->QueryCapability(3), kZrkStateAnswer);
    EXPECT_EQ(device_->QueryCapability(-1), kZrkStateAnswer);

    EXPECT_EQ(device_->ReservedA(1, 2), kZrkNotSupported);
    EXPECT_EQ(device_->ReservedB(1, 2), kZrkNotSupported);
    EXPECT_EQ(device_->ReservedC(1), kZrkOk);
    EXPECT_EQ(device_->ReservedD(1), kZrkStateAnswer);
    EXPECT_EQ(device_->ReservedE(1, 2, 3), kZrkCapabilityAnswer);
    EXPECT_EQ(device_->ReservedF(1, 2), kZrkOk);
    EXPECT_EQ(device_->ReservedG(1, 2), kZrkNotSupported);
}

TEST_F(DeviceAnswers, RunStateFollowsStartAndStop) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->GetRunState(), kZrkStateAnswer);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->GetRunState(), kZrkCapabilityAnswer);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->GetRunState(), kZrkStateAnswer);
    // Started again after a stop.
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->GetRunState(), kZrkCapabilityAnswer);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->GetRunState(), kZrkStateAnswer);
}

TEST_F(DeviceAnswers, NameIsKeptAndNullRemovesIt) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_STREQ(device_->GetName(), "");
    device_->SetName("Main hall");
    EXPECT_STREQ(device_->GetName(), "Main hall");
    device_->SetName(nullptr);
    EXPECT_STREQ(device_->GetName(), "");
}

TEST_F(DeviceAnswers, CommandsOfTheDefinitionAreTakenOthersRefused) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->SendCommand(4, nullptr, 0), kZrkUnknownCommand);
    EXPECT_EQ(device_->SendCommand(-1, nullptr, 0), kZrkUnknownCommand);
    for (int id = 0; id <= 2; ++id) EXPECT_EQ(device_->SendCommand(id, nullptr, 0), kZrkOk) << id;
    EXPECT_EQ(device_->SendCommand(3, nullptr, 0), kZrkOk);
    TestCallContext empty;
    EXPECT_EQ(device_->SendCommand(3, &empty, 0), kZrkOk);
}

TEST_F(DeviceAnswers, SyncHandsTheEntryTextBackToTheEntryItCameFrom) {
    ASSERT_NE(NewDevice(), nullptr);
    TestCallContext plain;
    TestCallEntry* entry = plain.Add("Stage");
    EXPECT_EQ(device_->SendCommand(3, &plain, 0), kZrkOk);
    ASSERT_EQ(entry->returned.size(), 1u);
    EXPECT_EQ(entry->returned[0], entry->GetText());

    // With a sub-entry, its text is the one taken and handed back.
    TestCallContext nested;
    TestCallEntry* outer = nested.Add("outer");
    TestCallEntry* inner = outer->AddSub("inner");
    EXPECT_EQ(device_->SendCommand(3, &nested, 0), kZrkOk);
    EXPECT_TRUE(outer->returned.empty());
    ASSERT_EQ(inner->returned.size(), 1u);
    EXPECT_EQ(inner->returned[0], inner->GetText());
}

TEST_F(DeviceAnswers, FreeTextRefusesNullAndClearsThePointer) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->FreeText(nullptr), kZrkBadArgument);
    char* none = nullptr;
    EXPECT_EQ(device_->FreeText(&none), kZrkBadArgument);
    char* text = nullptr;
    ASSERT_EQ(device_->SaveSettings(&text), kZrkOk);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(device_->FreeText(&text), kZrkOk);
    EXPECT_EQ(text, nullptr);
}

using DeviceSettings = PluginLibraryTest;

TEST_F(DeviceSettings, NewDeviceSavesItsDefaultsByteForByte) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->SaveSettings(nullptr), kZrkBadArgument);
    EXPECT_EQ(Saved(device_), kDefaultSettings);
}

TEST_F(DeviceSettings, LoadedValuesAreSavedBackInTheirOrder) {
    ASSERT_NE(NewDevice(), nullptr);
    ASSERT_EQ(device_->LoadSettings(SettingsWith("LocationId=\"4\" URL=\"http://10.0.0.2:8080\" "
                                                 "Lookahead=\"3\" RefreshPeriod=\"25\" Local=\"0\"")
                                        .c_str()),
              kZrkOk);
    EXPECT_STREQ(device_->GetName(), "Hall");
    const std::string expected =
        "<DeviceData Version=\"1000\" Name=\"Hall\" DeviceInternalVersion=\"1\">\n"
        "\t<Setup Local=\"0\" URL=\"http://10.0.0.2:8080\" RefreshPeriod=\"25\" Lookahead=\"3\" "
        "LocationId=\"4\" />\n"
        "</DeviceData>\n";
    std::string saved = Saved(device_);
    EXPECT_EQ(saved, expected);
    // What was saved loads back to the same text.
    ASSERT_EQ(device_->LoadSettings(saved.c_str()), kZrkOk);
    EXPECT_EQ(Saved(device_), expected);
}

TEST_F(DeviceSettings, MissingAttributesFollowTheirOwnRules) {
    ASSERT_NE(NewDevice(), nullptr);
    ASSERT_EQ(device_->LoadSettings(SettingsWith("Local=\"1\" URL=\"a\" RefreshPeriod=\"7\" Lookahead=\"2\" "
                                                 "LocationId=\"9\"")
                                        .c_str()),
              kZrkOk);
    // Local missing counts as 0, URL missing empties it, the numbers keep their values when missing or
    // not numbers.
    ASSERT_EQ(device_->LoadSettings(SettingsWith("RefreshPeriod=\"many\" Lookahead=\"\"").c_str()), kZrkOk);
    EXPECT_EQ(Saved(device_),
              "<DeviceData Version=\"1000\" Name=\"Hall\" DeviceInternalVersion=\"1\">\n"
              "\t<Setup Local=\"0\" URL=\"\" RefreshPeriod=\"7\" Lookahead=\"2\" LocationId=\"9\" />\n"
              "</DeviceData>\n");
    // A Local above 0 sets the flag, 0 or below clears it; no range is enforced on the numbers.
    ASSERT_EQ(device_->LoadSettings(SettingsWith("Local=\"5\" RefreshPeriod=\"-3\" Lookahead=\"0\"").c_str()),
              kZrkOk);
    std::string saved = Saved(device_);
    EXPECT_NE(saved.find("Local=\"1\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("RefreshPeriod=\"-3\" Lookahead=\"0\""), std::string::npos) << saved;
    ASSERT_EQ(device_->LoadSettings(SettingsWith("Local=\"-2\"").c_str()), kZrkOk);
    EXPECT_NE(Saved(device_).find("Local=\"0\""), std::string::npos);
}

TEST_F(DeviceSettings, RejectedTextsAnswerTheirCodesAndChangeNothing) {
    ASSERT_NE(NewDevice(), nullptr);
    struct Case {
        const char* text;
        int code;
    };
    const Case cases[] = {
        {"", kZrkBadArgument},
        {"<DeviceData Version=\"1000\"><Setup", kZrkBadArgument},
        {"not xml at all", kZrkBadArgument},
        {"<Other Version=\"1000\"><Setup Local=\"0\"/></Other>", kZrkDataRejected},
        {"<DeviceData><Setup Local=\"0\"/></DeviceData>", kZrkDataRejected},
        {"<DeviceData Version=\"x\"><Setup Local=\"0\"/></DeviceData>", kZrkDataRejected},
        {"<DeviceData Version=\"1000\"/>", kZrkBadArgument},
        {"<DeviceData Version=\"1000\"><setup Local=\"0\"/></DeviceData>", kZrkBadArgument},
    };
    EXPECT_EQ(device_->LoadSettings(nullptr), kZrkBadArgument);
    for (const Case& c : cases) {
        EXPECT_EQ(device_->LoadSettings(c.text), c.code) << c.text;
        EXPECT_EQ(Saved(device_), kDefaultSettings) << c.text;
    }
    // The version itself is not judged: another number is read like 1000.
    EXPECT_EQ(device_->LoadSettings("<DeviceData Version=\"7\"><Setup Local=\"0\"/></DeviceData>"), kZrkOk);
}

TEST_F(DeviceSettings, ArbitraryBytesNeverBreakTheReader) {
    ASSERT_NE(NewDevice(), nullptr);
    std::string base = SettingsWith("Local=\"1\" URL=\"http://h:1\" RefreshPeriod=\"3\"");
    uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string text = base;
        int edits = 1 + round % 6;
        for (int e = 0; e < edits; ++e) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % text.size();
            text[at] = static_cast<char>((seed >> 16) & 0xFF);
        }
        // Cut at the first NUL the edits may have made, as a C text would be.
        int code = device_->LoadSettings(text.c_str());
        EXPECT_TRUE(code == kZrkOk || code == kZrkBadArgument || code == kZrkDataRejected) << code;
    }
}

TEST_F(DeviceSettings, LoadingLooksTheStatusVariablesUp) {
    AddStatusVariables(hostDevice_);
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_TRUE(hostDevice_.Lookups().empty());  // SetHostDevice looks nothing up
    ASSERT_EQ(device_->LoadSettings(kDefaultSettings), kZrkOk);
    EXPECT_EQ(
        hostDevice_.Lookups(),
        (std::vector<std::string>{"LastEvent", "LastEventTime", "LastEventAction", "NextEvent",
                                  "NextEventTime", "NextEventAction", "NextRefreshTime", "LastRefreshTime"}));
    // A refused text looks nothing up.
    EXPECT_EQ(device_->LoadSettings("<DeviceData Version=\"1000\"/>"), kZrkBadArgument);
    EXPECT_EQ(hostDevice_.Lookups().size(), 8u);
}

TEST_F(DeviceSettings, ConfigureWithoutDialogIsCancelledAndKeepsTheSettings) {
    AddStatusVariables(hostDevice_);
    ASSERT_NE(NewDevice(), nullptr);
    ASSERT_EQ(device_->LoadSettings(SettingsWith("Local=\"0\" URL=\"x:1\"").c_str()), kZrkOk);
    std::string before = Saved(device_);
    TestRect rect(0, 0, 1280, 800);
    EXPECT_EQ(device_->Configure(&rect), kZrkCancelled);
    EXPECT_EQ(device_->Configure(nullptr), kZrkCancelled);
    EXPECT_EQ(Saved(device_), before);
    // Cancelled or not, the variables are looked up again each time.
    EXPECT_EQ(hostDevice_.Lookups().size(), 24u);
}

using DeviceDefinition = PluginLibraryTest;

// Name -> InstanceID of the Device/Variables children, in document order.
std::vector<std::pair<std::string, std::string>> Variables(const char* text) {
    std::vector<std::pair<std::string, std::string>> found;
    TiXmlDocument document;
    document.Parse(text);
    EXPECT_FALSE(document.Error()) << text;
    TiXmlElement* device = document.FirstChildElement("Device");
    TiXmlElement* variables = device ? device->FirstChildElement("Variables") : nullptr;
    if (variables == nullptr) return found;
    for (TiXmlElement* v = variables->FirstChildElement(); v; v = v->NextSiblingElement()) {
        found.emplace_back(std::string(v->Value()) + " " + v->Attribute("Name"), v->Attribute("InstanceID"));
    }
    return found;
}

TEST_F(DeviceDefinition, WithoutHostDeviceEveryInstanceIdStaysZero) {
    ASSERT_NE(ReadyModule(&host_), nullptr);
    ASSERT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    const char* text = device_->GetDefinition();
    ASSERT_NE(text, nullptr);
    auto variables = Variables(text);
    ASSERT_EQ(variables.size(), 8u);
    for (const auto& v : variables) EXPECT_EQ(v.second, "0") << v.first;
    EXPECT_EQ(variables[0].first, "TimeData NextRefreshTime");
    EXPECT_EQ(variables[2].first, "StringData LastEvent");
    // Printed with one tab per level, the commands untouched.
    EXPECT_NE(std::string(text).find("\n\t<Commands>\n\t\t<Command ID=\"0\" Name=\"Enable\""),
              std::string::npos);
}

TEST_F(DeviceDefinition, CarriesTheHostsInstanceIdsOfTheVariablesItKnows) {
    hostDevice_.Add("LastEvent", kZrkVariableText, 7);
    hostDevice_.Add("NextRefreshTime", kZrkVariableTime, 12);
    hostDevice_.Add("Unrelated", kZrkVariableText, 99);
    ASSERT_NE(NewDevice(), nullptr);
    const char* first = device_->GetDefinition();
    ASSERT_NE(first, nullptr);
    auto variables = Variables(first);
    ASSERT_EQ(variables.size(), 8u);
    for (const auto& v : variables) {
        if (v.first == "StringData LastEvent") {
            EXPECT_EQ(v.second, "7");
        } else if (v.first == "TimeData NextRefreshTime") {
            EXPECT_EQ(v.second, "12");
        } else {
            EXPECT_EQ(v.second, "0") << v.first;
        }
    }
    std::string copy = first;
    EXPECT_EQ(copy, device_->GetDefinition());
}

using DeviceBitmap = PluginLibraryTest;

TEST_F(DeviceBitmap, SameHandleEachCallWithTheGreysMapped) {
    ASSERT_NE(NewDevice(), nullptr);
    ZrkBitmapHandle first = device_->GetBitmap();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(device_->GetBitmap(), first);
    platform::PixelBlock shown;
    ASSERT_TRUE(platform::ReadBitmap(first, &shown));
    EXPECT_EQ(shown.width, 16);
    EXPECT_EQ(shown.height, 16);
    EXPECT_EQ(shown.stride, 48);

    // Compare with the resource as embedded: greys replaced, every other pixel kept.
    const platform::Resource* resource =
        platform::FindResource(platform::OwnModule(), platform::kResourceBitmap, 5);
    ASSERT_NE(resource, nullptr);
    platform::PixelBlock original;
    ASSERT_TRUE(platform::DecodePackedBitmap(resource->data, resource->size, &original));
    platform::PixelBlock mapped = original;
    platform::MapGreysTo3DColours(&mapped, platform::System3DColours());
    EXPECT_EQ(shown.bits, mapped.bits);
    EXPECT_NE(original.bits, mapped.bits) << "the bitmap is expected to hold some grey";
}

TEST_F(DeviceBitmap, HandleIsTheDevicesOwnAndOutlivesStartAndStop) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->Start(), kZrkOk);
    ZrkBitmapHandle handle = device_->GetBitmap();
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->GetBitmap(), handle);
}

}  // namespace
}  // namespace plugin_test
