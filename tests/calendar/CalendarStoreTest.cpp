#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"

namespace {

// Records that report their destruction, to see when the store lets a replaced list go.
struct CountedVariable : MCalendarVariable {
    explicit CountedVariable(std::atomic<int>* counter) : counter_(counter) {}
    ~CountedVariable() override { ++*counter_; }
    std::atomic<int>* counter_;
};

}  // namespace

TEST(CalendarStore, StartsWithThreeEmptyListsAndDeletesReplacedOnesWithTheirRecords) {
    std::atomic<int> destroyed{0};
    {
        MCalendarStore store;
        ASSERT_NE(store.GetVariables(), nullptr);
        ASSERT_NE(store.GetEvents(), nullptr);
        ASSERT_NE(store.GetLocations(), nullptr);
        EXPECT_TRUE(store.GetVariables()->empty());
        EXPECT_EQ(store.GetEvents()->GetCount(), 0);
        EXPECT_EQ(store.GetLocations()->GetCount(), 0);

        auto* events = new CalendarEventList();
        events->Add(new MCalendarEvent());  // deleted by the store (the leak checker watches)
        store.SetEvents(events);
        EXPECT_EQ(store.GetEvents(), events);

        auto* first = new CalendarVariableList();
        first->push_back(new CountedVariable(&destroyed));
        first->push_back(new CountedVariable(&destroyed));
        store.SetVariables(first);
        EXPECT_EQ(destroyed, 0);
        auto* second = new CalendarVariableList();
        second->push_back(new CountedVariable(&destroyed));
        store.SetVariables(second);
        EXPECT_EQ(destroyed, 2);  // the replaced list went with its records
        EXPECT_EQ(store.GetVariables(), second);

        store.SetVariables(second);  // the same list again: kept, not deleted
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(store.GetVariables()->size(), 1u);

        store.SetLocations(nullptr);  // the store always holds a list
        ASSERT_NE(store.GetLocations(), nullptr);
        EXPECT_EQ(store.GetLocations()->GetCount(), 0);
    }
    EXPECT_EQ(destroyed, 3);  // the store's own end deletes the current records too
}

TEST(CalendarStore, AccessorSeesTheCurrentListAndKeepsItAliveAcrossASetOnTheSameThread) {
    std::atomic<int> destroyed{0};
    MCalendarStore store;
    auto* list = new CalendarVariableList();
    list->push_back(new CountedVariable(&destroyed));
    store.SetVariables(list);
    {
        auto access = store.AccessVariables();
        EXPECT_EQ(access.get(), list);
        EXPECT_EQ(access->size(), 1u);
        {
            auto nested = store.AccessVariables();  // the lock is recursive
            EXPECT_EQ(nested.get(), list);
        }
        // Replacing the list while this thread still walks it must not pull it away underneath.
        store.SetVariables(new CalendarVariableList());
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ((*access).front()->IsEqual(list->front()), true);
        EXPECT_NE(store.GetVariables(), list);
    }
    EXPECT_EQ(destroyed, 1);  // released with the last accessor
}

TEST(CalendarStore, SetterWaitsForAReaderOnAnotherThread) {
    MCalendarStore store;
    std::atomic<bool> readerHolds{false};
    std::atomic<bool> setterDone{false};
    std::atomic<bool> release{false};
    std::thread reader([&] {
        auto access = store.AccessEvents();
        readerHolds = true;
        while (!release) std::this_thread::yield();
        EXPECT_FALSE(setterDone);  // the setter could not exchange or delete under this reader
        EXPECT_EQ(access->GetCount(), 0);
    });
    while (!readerHolds) std::this_thread::yield();
    std::thread setter([&] {
        auto* list = new CalendarEventList();
        list->Add(new MCalendarEvent());
        store.SetEvents(list);
        setterDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release = true;
    reader.join();
    setter.join();
    EXPECT_TRUE(setterDone);
    EXPECT_EQ(store.GetEvents()->GetCount(), 1);
}

// A reader walks whatever list is current while a writer keeps replacing it. Under the address and
// thread sanitizers this must run without a report: no walk ever touches a deleted list.
TEST(CalendarStore, ReaderAndReplacingWriterOnTwoThreads) {
    MCalendarStore store;
    constexpr int kRounds = 100;
    std::atomic<bool> writing{true};
    std::atomic<long> walked{0};

    std::thread writer([&] {
        for (int round = 0; round < kRounds; ++round) {
            auto* events = new CalendarEventList();
            auto* variables = new CalendarVariableList();
            for (int i = 0; i < 20; ++i) {
                auto* e = events->Add(new MCalendarEvent());
                e->time = static_cast<uint64_t>(round) * 100 + i;
                e->name = "action " + std::to_string(i);
                auto* v = new MCalendarEnumVariable(i, "var " + std::to_string(i));
                v->values = {"a", "b"};
                variables->push_back(v);
            }
            store.SetEvents(events);
            store.SetVariables(variables);
            if (round % 10 == 0) std::this_thread::yield();
        }
        writing = false;
    });

    std::thread reader([&] {
        do {
            {
                auto events = store.AccessEvents();
                uint64_t previous = 0;
                MIDoubleListIterator<MCalendarEvent> it(events.get());
                for (MCalendarEvent* e = it.Current(); e; e = it.Next()) {
                    EXPECT_GE(e->time, previous);
                    previous = e->time;
                    walked += static_cast<long>(e->name.size());
                }
            }
            {
                auto variables = store.AccessVariables();
                for (MCalendarVariable* v : *variables) {
                    nlohmann::json object;
                    v->ToJson(object);
                    walked += static_cast<long>(object.size());
                }
            }
            std::this_thread::yield();  // let the writer in between walks
        } while (writing || walked == 0);  // at least one walk of a filled list
    });

    writer.join();
    reader.join();
    EXPECT_GT(walked, 0);
    EXPECT_EQ(store.GetEvents()->GetCount(), 20);
    EXPECT_EQ(store.GetVariables()->size(), 20u);
}
