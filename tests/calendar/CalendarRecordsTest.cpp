#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "calendar/CalendarEventList.h"
#include "calendar/CalendarLocationList.h"
#include "calendar/CalendarVariableList.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarEvent.h"
#include "platform/Clock.h"

namespace {

uint64_t Instant(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0) {
    platform::CalendarTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    uint64_t instant = 0;
    EXPECT_TRUE(platform::CalendarToInstant(t, &instant));
    return instant;
}

// Parses into a fresh event whose time starts at a marker, so "unchanged" is visible.
constexpr uint64_t kUntouched = 0x1234;
bool Parse(const char* text, uint64_t* time) {
    MCalendarEvent e;
    e.time = kUntouched;
    bool ok = ParseEventTime(text, &e);
    *time = e.time;
    return ok;
}

std::vector<std::string> Tokens(const char* text) {
    std::vector<std::string> items;
    char buffer[kEnumItemBufferSize];
    const char* cursor = text;
    while (*cursor) {
        if (NextEnumToken(&cursor, buffer, sizeof buffer)) items.emplace_back(buffer);
    }
    return items;
}

// Counts destructions, to show which list deletes its records.
struct Tracked : MCalendarVariable {
    explicit Tracked(int* counter) : counter_(counter) {}
    ~Tracked() override { ++*counter_; }
    int* counter_;
};

}  // namespace

// ---- Event times ----

TEST(ParseEventTime, ReadsAsFarAsTheFormFitsAsLocalWallClock) {
    uint64_t t = 0;
    ASSERT_TRUE(Parse("2024-05-01", &t));
    EXPECT_EQ(t, 133589952000000000ULL);  // midnight, no zone shift
    ASSERT_TRUE(Parse("2024-05-01T10:30", &t));
    EXPECT_EQ(t, 133590330000000000ULL);
    ASSERT_TRUE(Parse("2024-05-01T10:30:15", &t));
    EXPECT_EQ(t, Instant(2024, 5, 1, 10, 30, 15));
    // A blank instead of the T stops the reading after the day.
    ASSERT_TRUE(Parse("2024-05-01 10:00:00", &t));
    EXPECT_EQ(t, Instant(2024, 5, 1));
    // Anything after the seconds is ignored: fractions, Z, offsets.
    for (const char* text : {"2024-05-01T10:30:15Z", "2024-05-01T10:30:15+02:00", "2024-05-01T10:30:15.250",
                             "2024-05-01T10:30:15-05:00"}) {
        ASSERT_TRUE(Parse(text, &t)) << text;
        EXPECT_EQ(t, Instant(2024, 5, 1, 10, 30, 15)) << text;
    }
    // Leading white space before a number is taken, as a formatted read does.
    ASSERT_TRUE(Parse(" 2024-05-01T 9:05", &t));
    EXPECT_EQ(t, Instant(2024, 5, 1, 9, 5));
    ASSERT_TRUE(Parse("2024-02-29T23:59:59", &t));
    EXPECT_EQ(t, Instant(2024, 2, 29, 23, 59, 59));
}

TEST(ParseEventTime, RejectsInvalidDatesAndLeavesTimeUnchanged) {
    uint64_t t = 0;
    for (const char* text :
         {"", "T", "abc", "2024", "2024-05", "2024-13-01", "2024-00-10", "2024-05-32", "2023-02-29",
          "2024-05-01T24:00", "2024-05-01T10:60", "2024-05-01T10:30:60", "1600-12-31", "2024--5-01",
          "2024-65548-01", "99999999999999999999-05-01", "-2024-05-01", "2024-05-01T-1:00"}) {
        EXPECT_FALSE(Parse(text, &t)) << text;
        EXPECT_EQ(t, kUntouched) << text;
    }
    MCalendarEvent e;
    EXPECT_FALSE(ParseEventTime(nullptr, &e));
    EXPECT_FALSE(ParseEventTime("2024-05-01", nullptr));
}

TEST(ParseEventTime, SurvivesArbitraryBytes) {
    std::mt19937 random(7);
    const char alphabet[] = "0123456789-T:+ \t.Z\x80\xff";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        size_t length = random() % 40;
        for (size_t i = 0; i < length; ++i) {
            text += (round % 2) ? static_cast<char>(1 + random() % 255)
                                : alphabet[random() % (sizeof alphabet - 1)];
        }
        uint64_t t = 0;
        if (Parse(text.c_str(), &t)) {
            platform::CalendarTime back;
            EXPECT_TRUE(platform::InstantToCalendar(t, &back)) << text;
        } else {
            EXPECT_EQ(t, kUntouched);
        }
    }
}

// ---- Sorting actions ----

TEST(EventCompare, ComparesTimesUnsignedInBothDirections) {
    EventCompare compare;
    MCalendarEvent early, late, same;
    early.time = 5;
    late.time = 0x8000000000000000ULL;  // would be negative if compared signed
    same.time = 5;
    EXPECT_TRUE(compare.Compare(nullptr, &late, &early, false, 0));
    EXPECT_FALSE(compare.Compare(nullptr, &early, &late, false, 0));
    EXPECT_TRUE(compare.Compare(nullptr, &early, &late, true, 0));
    EXPECT_FALSE(compare.Compare(nullptr, &same, &early, false, 0));
    EXPECT_FALSE(compare.Compare(nullptr, &same, &early, true, 0));
}

TEST(CalendarEventList, SortsAscendingAndEqualTimesEndInTheFixedOrder) {
    EventCompare compare;
    CalendarEventList empty;
    empty.Sort(&compare, 0);
    EXPECT_EQ(empty.GetCount(), 0);

    CalendarEventList one;
    auto* only = one.Add(new MCalendarEvent());
    one.Sort(&compare, 0);
    EXPECT_EQ(one.GetFirst(), only);
    EXPECT_EQ(one.GetCount(), 1);

    CalendarEventList same;
    for (int i = 0; i < 6; ++i) {
        auto* e = new MCalendarEvent();
        e->time = Instant(2024, 5, 1, 12);
        e->name = "e" + std::to_string(i);
        same.Add(e);
    }
    same.Sort(&compare, 0);
    std::string order;
    for (MCalendarEvent* e = same.GetFirst(); e; e = same.GetNext()) order += e->name + " ";
    EXPECT_EQ(order, "e4 e0 e3 e1 e5 e2 ");

    // Undated actions (time 0) come before every dated one.
    CalendarEventList mixed;
    uint64_t times[] = {Instant(2024, 5, 2), 0, Instant(2024, 5, 1, 23), Instant(2024, 5, 1, 8), 0};
    for (uint64_t time : times) mixed.Add(new MCalendarEvent())->time = time;
    mixed.Sort(&compare, 0);
    std::vector<uint64_t> sorted;
    for (MCalendarEvent* e = mixed.GetFirst(); e; e = mixed.GetNext()) sorted.push_back(e->time);
    EXPECT_EQ(sorted, (std::vector<uint64_t>{0, 0, times[3], times[2], times[0]}));
}

// ---- Variables ----

TEST(CalendarVariable, ConstructorsSetTheDocumentedFields) {
    MCalendarVariable empty;
    EXPECT_EQ(empty.variable_id, 0);
    EXPECT_EQ(empty.var_type, 0);
    EXPECT_EQ(empty.location_id, 0);
    EXPECT_TRUE(empty.name.empty());
    MCalendarVariable plain(12, 2, "Title");
    EXPECT_EQ(plain.variable_id, 12);
    EXPECT_EQ(plain.var_type, 2);
    EXPECT_EQ(plain.location_id, 0);
    MCalendarEnumVariable enumBlank;
    EXPECT_EQ(enumBlank.var_type, 0);
    MCalendarEnumVariable enumNamed(3, "Mode");
    EXPECT_EQ(enumNamed.var_type, 4);
    EXPECT_EQ(enumNamed.variable_id, 3);
    EXPECT_TRUE(enumNamed.values.empty());
}

TEST(CalendarVariable, IsEqualComparesTypeAndNameAndForEnumsTheItemsInOrder) {
    MCalendarVariable a(1, 2, "Title"), b(99, 2, "Title"), otherType(1, 1, "Title"), otherCase(1, 2, "title");
    EXPECT_TRUE(a.IsEqual(&b));  // identifiers are not compared
    EXPECT_FALSE(a.IsEqual(&otherType));
    EXPECT_FALSE(a.IsEqual(&otherCase));
    EXPECT_FALSE(a.IsEqual(nullptr));

    MCalendarEnumVariable ab(1, "Mode"), ab2(2, "Mode"), ba(1, "Mode"), abc(1, "Mode");
    ab.values = {"a", "b"};
    ab2.values = {"a", "b"};
    ba.values = {"b", "a"};
    abc.values = {"a", "b", "c"};
    EXPECT_TRUE(ab.IsEqual(&ab2));
    EXPECT_FALSE(ab.IsEqual(&ba));
    EXPECT_FALSE(ab.IsEqual(&abc));
    EXPECT_FALSE(abc.IsEqual(&ab));

    // A plain variable of the same name and type 4: the enum says no, the plain one compares only type
    // and name and says yes.
    MCalendarVariable plainFour(1, 4, "Mode");
    EXPECT_FALSE(ab.IsEqual(&plainFour));
    EXPECT_TRUE(plainFour.IsEqual(&ab));
    const MCalendarVariable& asBase = ab;
    EXPECT_FALSE(asBase.IsEqual(&plainFour));  // dispatched to the enum's own comparison
}

TEST(CalendarVariable, ToJsonWritesTheMembersAndJoinsEnumItems) {
    MCalendarVariable plain(7, 1, "Counter");
    plain.location_id = 3;
    nlohmann::json object;
    ASSERT_TRUE(plain.ToJson(object));
    EXPECT_EQ(object, (nlohmann::json{{"variable_id", 7}, {"name", "Counter"}, {"var_type", 1}}));

    MCalendarEnumVariable noItems(4, "Mode");
    nlohmann::json e1 = nlohmann::json::object();
    ASSERT_TRUE(noItems.ToJson(e1));
    ASSERT_TRUE(e1.contains("var_data"));
    EXPECT_EQ(e1["var_data"], "");
    EXPECT_EQ(e1["var_type"], 4);

    MCalendarEnumVariable items(4, "Mode");
    items.values = {"off", " on", "", "st\xc3\xa5nd by"};
    nlohmann::json e2;
    const MCalendarVariable& asBase = items;
    ASSERT_TRUE(asBase.ToJson(e2));
    EXPECT_EQ(e2["var_data"], "off, on,,st\xc3\xa5nd by");
    EXPECT_EQ(e2.dump(),
              "{\"name\":\"Mode\",\"var_data\":\"off, on,,st\xc3\xa5nd by\",\"var_type\":4,"
              "\"variable_id\":4}");
    EXPECT_EQ(e2.size(), 4u);

    nlohmann::json notAnObject = nlohmann::json::array();
    EXPECT_FALSE(items.ToJson(notAnObject));
}

// ---- Enumeration items ----

TEST(NextEnumToken, SplitsOnCommasSkippingLeadingBlanksOnly) {
    EXPECT_EQ(Tokens("a, b,c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Tokens("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Tokens("a,"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Tokens(""), std::vector<std::string>{});
    EXPECT_EQ(Tokens(" \t "), std::vector<std::string>{});
    EXPECT_EQ(Tokens("a ,\tb , "), (std::vector<std::string>{"a ", "b "}));
    EXPECT_EQ(Tokens(",x"), (std::vector<std::string>{"", "x"}));

    const char* cursor = "  ";
    char buffer[8] = "junk";
    EXPECT_FALSE(NextEnumToken(&cursor, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(*cursor, '\0');
    const char* none = nullptr;
    EXPECT_FALSE(NextEnumToken(&none, buffer, sizeof buffer));
    EXPECT_FALSE(NextEnumToken(nullptr, buffer, sizeof buffer));
}

TEST(NextEnumToken, CutsOverlongItemsWithoutShiftingTheFollowingOnes) {
    const std::string longItem(1000, 'x');
    const std::string text = "first," + longItem + ",third";
    // Exactly the buffer's size on the heap, so a write past it is a sanitizer report.
    std::unique_ptr<char[]> buffer(new char[kEnumItemBufferSize]);
    const char* cursor = text.c_str();
    std::vector<std::string> items;
    while (*cursor) {
        if (NextEnumToken(&cursor, buffer.get(), kEnumItemBufferSize)) items.emplace_back(buffer.get());
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], "first");
    EXPECT_EQ(items[1], std::string(kEnumItemMaxLength, 'x'));
    EXPECT_EQ(items[2], "third");

    // Exactly the maximum fits whole; small buffers cut to their own room.
    const std::string exact(kEnumItemMaxLength, 'y');
    EXPECT_EQ(Tokens(exact.c_str()), std::vector<std::string>{exact});
    char tiny[3];
    cursor = "abcdef,g";
    EXPECT_TRUE(NextEnumToken(&cursor, tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "ab");
    EXPECT_STREQ(cursor, "g");
    cursor = "abc";
    EXPECT_TRUE(NextEnumToken(&cursor, nullptr, 0));  // no room at all: the item is passed over
    EXPECT_EQ(*cursor, '\0');
}

TEST(MCalendarEnumVariable, AppendsItemsFromVarDataText) {
    MCalendarEnumVariable v(1, "Mode");
    v.AppendItemsFromText("off, on,,stand by ,");
    EXPECT_EQ(v.values, (std::vector<std::string>{"off", "on", "", "stand by "}));
    v.AppendItemsFromText(nullptr);
    v.AppendItemsFromText("");
    EXPECT_EQ(v.values.size(), 4u);
    nlohmann::json object;
    v.ToJson(object);
    MCalendarEnumVariable back(1, "Mode");
    back.AppendItemsFromText(object["var_data"].get<std::string>().c_str());
    EXPECT_TRUE(back.IsEqual(&v));
}

// ---- Lists and who owns the records ----

TEST(CalendarLists, LocationAndEventListsDeleteTheirRecordsTheVariableListOnlyOnDeleteAll) {
    {
        auto* locations = new CalendarLocationList();
        locations->Add(new MCalendarLocation())->name = "Main hall";
        locations->Add(new MCalendarLocation());
        EXPECT_EQ(locations->GetCount(), 2);
        EXPECT_FALSE(locations->IsLockEnabled());
        delete locations;  // leak checker: the records go with the list
        auto* events = new CalendarEventList();
        events->Add(new MCalendarEvent())->macro = "Show start";
        EXPECT_FALSE(events->IsLockEnabled());
        delete events;
    }

    int destroyed = 0;
    std::vector<Tracked*> shared;
    {
        CalendarVariableList working;
        for (int i = 0; i < 3; ++i) {
            shared.push_back(new Tracked(&destroyed));
            working.push_back(shared.back());
        }
    }
    EXPECT_EQ(destroyed, 0);  // the working list only held links

    CalendarVariableList owner;
    owner.push_back(new Tracked(&destroyed));
    owner.push_back(new Tracked(&destroyed));
    auto* enumRecord = new MCalendarEnumVariable(1, "Mode");
    enumRecord->values = {"a", "b"};
    owner.push_back(enumRecord);  // deleted through the base pointer
    owner.DeleteAll();
    EXPECT_EQ(destroyed, 2);
    EXPECT_TRUE(owner.empty());
    for (Tracked* record : shared) delete record;
    EXPECT_EQ(destroyed, 5);
}
