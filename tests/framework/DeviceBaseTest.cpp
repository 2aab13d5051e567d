// The device base: registry and instance numbers, name and flags, and the "DeviceData" element.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/MZRKDeviceBase.h"

namespace {

class Device : public MZRKDeviceBase {
public:
    explicit Device(const char* name = nullptr) : MZRKDeviceBase(name) {}
};

std::vector<std::string> AttributeNames(const TiXmlElement* e) {
    std::vector<std::string> names;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) names.push_back(a->Name());
    return names;
}

// --- Registry and instance numbers

TEST(DeviceRegistry, InstanceNumbersCountOnAcrossDestruction) {
    ASSERT_EQ(MZRKDeviceBase::GetDeviceCount(), 0u);
    auto a = std::make_unique<Device>();
    auto b = std::make_unique<Device>();
    int n = a->GetInstanceNumber();
    EXPECT_GE(n, 1);
    EXPECT_EQ(b->GetInstanceNumber(), n + 1);
    a.reset();
    b.reset();
    // The registry is gone with the last device; the counter is not.
    EXPECT_EQ(MZRKDeviceBase::GetDeviceCount(), 0u);
    Device c;
    EXPECT_EQ(c.GetInstanceNumber(), n + 2);
}

TEST(DeviceRegistry, GetDeviceAtFollowsConstructionOrderAndBounds) {
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(0), nullptr);  // nothing alive
    auto a = std::make_unique<Device>("a");
    auto b = std::make_unique<Device>("b");
    auto c = std::make_unique<Device>("c");
    EXPECT_EQ(MZRKDeviceBase::GetDeviceCount(), 3u);
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(0), a.get());
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(2), c.get());
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(3), nullptr);
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(~0u), nullptr);
    // Destroying one from the middle closes the gap and keeps the order.
    b.reset();
    EXPECT_EQ(MZRKDeviceBase::GetDeviceCount(), 2u);
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(0), a.get());
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(1), c.get());
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(2), nullptr);
    // A new device goes to the end.
    Device d;
    EXPECT_EQ(MZRKDeviceBase::GetDeviceAt(2), &d);
}

TEST(DeviceRegistry, FindDeviceByInstance) {
    int gone;
    {
        Device old;
        gone = old.GetInstanceNumber();
        EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(gone), &old);
    }
    EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(gone), nullptr);  // no registry at all
    Device a, b;
    EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(b.GetInstanceNumber()), &b);
    EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(a.GetInstanceNumber()), &a);
    EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(gone), nullptr);
    EXPECT_EQ(MZRKDeviceBase::FindDeviceByInstance(0), nullptr);
}

TEST(DeviceRegistry, HostThreadsCreatingAndDestroyingAtOnceGetDistinctNumbers) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < kRounds; ++i) {
                Device device;
                seen[t].push_back(device.GetInstanceNumber());
                MZRKDeviceBase::GetDeviceAt(0);
                MZRKDeviceBase::FindDeviceByInstance(device.GetInstanceNumber());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<int> all;
    for (const auto& numbers : seen) all.insert(numbers.begin(), numbers.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kRounds));
    EXPECT_EQ(MZRKDeviceBase::GetDeviceCount(), 0u);
}

// --- Name and flags

TEST(DeviceBase, NameIsCopiedAndNullMeansNone) {
    char name[] = "Stage";
    Device device(name);
    name[0] = 'X';
    EXPECT_STREQ(device.GetName(), "Stage");
    device.SetName(device.GetName() + 2);  // its own text
    EXPECT_STREQ(device.GetName(), "age");
    device.SetName(nullptr);
    ASSERT_NE(device.GetName(), nullptr);
    EXPECT_STREQ(device.GetName(), "");
    Device unnamed;
    EXPECT_STREQ(unnamed.GetName(), "");
}

TEST(DeviceBase, FlagsStartClearAndAreIndependent) {
    Device device;
    EXPECT_FALSE(device.IsRunning());
    EXPECT_FALSE(device.IsOpened());
    device.SetRunning(true);
    EXPECT_TRUE(device.IsRunning());
    EXPECT_FALSE(device.IsOpened());
    device.SetOpened(true);
    device.SetRunning(false);
    EXPECT_FALSE(device.IsRunning());
    EXPECT_TRUE(device.IsOpened());
}

// --- "DeviceData"

TEST(DeviceData, AttributesInOrderAndPrintedForm) {
    Device device;
    std::unique_ptr<TiXmlElement> data(device.CreateDeviceData(1000));
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data->Value(), "DeviceData");
    EXPECT_EQ(AttributeNames(data.get()),
              (std::vector<std::string>{"Version", "Name", "DeviceInternalVersion"}));
    EXPECT_STREQ(data->Attribute("Version"), "1000");
    EXPECT_STREQ(data->Attribute("Name"), "");
    EXPECT_STREQ(data->Attribute("DeviceInternalVersion"), "1");
    EXPECT_EQ(data->FirstChild(), nullptr);

    TiXmlPrinter printer;
    printer.SetIndent("\t");
    data->Accept(&printer);
    EXPECT_STREQ(printer.CStr(), "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\" />\n");
}

TEST(DeviceData, RoundTripThroughText) {
    Device writer("Lobby <A&B>");
    std::unique_ptr<TiXmlElement> data(writer.CreateDeviceData(7));
    data->LinkEndChild(new TiXmlElement("Setup"));
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    data->Accept(&printer);

    TiXmlDocument doc;
    doc.Parse(printer.CStr());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
    Device reader;
    int version = -5;
    EXPECT_EQ(reader.ReadDeviceData(doc.RootElement(), 1000, &version), 0);
    EXPECT_EQ(version, 7);
    EXPECT_STREQ(reader.GetName(), "Lobby <A&B>");
}

TEST(DeviceData, ReadResults) {
    Device device("keep");
    int version = 123;

    EXPECT_EQ(device.ReadDeviceData(nullptr, 1000, &version), MZRKDeviceBase::kNotDeviceData);
    TiXmlElement other("Setup");
    other.SetAttribute("Version", 1000);
    other.SetAttribute("Name", "changed");
    EXPECT_EQ(device.ReadDeviceData(&other, 1000, &version), -1);
    EXPECT_STREQ(device.GetName(), "keep");

    TiXmlElement noVersion("DeviceData");
    noVersion.SetAttribute("Name", "changed");
    EXPECT_EQ(device.ReadDeviceData(&noVersion, 1000, &version), MZRKDeviceBase::kBadVersion);
    EXPECT_STREQ(device.GetName(), "keep");
    EXPECT_EQ(version, 123);

    TiXmlElement textVersion("DeviceData");
    textVersion.SetAttribute("Version", "new");
    textVersion.SetAttribute("Name", "changed");
    EXPECT_EQ(device.ReadDeviceData(&textVersion, 1000, &version), 2);
    EXPECT_STREQ(device.GetName(), "keep");

    // The expected version is not judged here, and a missing name clears it.
    TiXmlElement noName("DeviceData");
    noName.SetAttribute("Version", 999);
    EXPECT_EQ(device.ReadDeviceData(&noName, 1000, &version), 0);
    EXPECT_EQ(version, 999);
    EXPECT_STREQ(device.GetName(), "");

    // No place for the version is no reason to fail.
    TiXmlElement named("DeviceData");
    named.SetAttribute("Version", 1000);
    named.SetAttribute("Name", "Hall");
    EXPECT_EQ(device.ReadDeviceData(&named, 1000, nullptr), 0);
    EXPECT_STREQ(device.GetName(), "Hall");
}

TEST(DeviceData, ArbitraryHostTextNeverBreaksTheReader) {
    const char* texts[] = {
        "",
        "<",
        "<DeviceData",
        "<DeviceData Version=>",
        "<DeviceData Version=\"\"/>",
        "<DeviceData Version=\"99999999999999999999\"/>",
        "<DeviceData Version=\"1\" Name=\"&#0;\"/>",
        "\xff\xfe<\x00>",
        "<?xml?><DeviceData Version='1'><Setup/></DeviceData>",
    };
    Device device;
    for (const char* text : texts) {
        TiXmlDocument doc;
        doc.Parse(text);
        int version = 0;
        int result = device.ReadDeviceData(doc.RootElement(), 1000, &version);
        EXPECT_TRUE(result == 0 || result == -1 || result == 2) << text;
    }
}

}  // namespace
