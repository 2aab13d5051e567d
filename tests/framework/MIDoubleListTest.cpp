#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/MIDoubleList.h"

namespace {

struct Item {
    int key;
    int id;
};

// Orders by key only, so items with equal keys show what the sort does with ties.
class KeyCompare : public IListCompare<Item> {
public:
    bool Compare(MIDoubleList<Item>*, Item* a, Item* b, bool reverse, int) override {
        return reverse ? a->key < b->key : a->key > b->key;
    }
};

class EvenIds : public IListFilter<Item> {
public:
    bool Accept(Item* e) override { return e->id % 2 == 0; }
};

class CountingListLock : public ILockable {
public:
    void Lock(int flag) override { ++(flag ? locks1 : locks0); }
    void Unlock(int flag) override { ++(flag ? unlocks1 : unlocks0); }
    int locks0 = 0, locks1 = 0, unlocks0 = 0, unlocks1 = 0;
};

std::vector<int> Ids(MIDoubleList<Item>& list) {
    std::vector<int> ids;
    MIDoubleListIterator<Item> it(&list);
    for (Item* e = it.First(); e; e = it.Next()) ids.push_back(e->id);
    return ids;
}

// Walks the list backwards from the end through the array form, to check the back links too.
std::vector<int> IdsBackwards(MIDoubleList<Item>& list) {
    std::vector<int> ids;
    Item** array = list.ToArray();
    int n = list.GetCount();
    for (int i = n - 1; i >= 0; --i) ids.push_back(array[i]->id);
    delete[] array;
    return ids;
}

class DoubleListTest : public ::testing::Test {
protected:
    DoubleListTest() {
        for (int i = 0; i < 8; ++i) items[i] = Item{i, i};
    }
    Item items[8];
};

}  // namespace

TEST_F(DoubleListTest, AddAppendsAndCursorWalksToTheEndAndStaysNull) {
    MIDoubleList<Item> list(false, nullptr);
    EXPECT_EQ(list.GetFirst(), nullptr);
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.Add(nullptr), nullptr);
    EXPECT_EQ(list.GetCount(), 0);

    for (int i = 0; i < 3; ++i) EXPECT_EQ(list.Add(&items[i]), &items[i]);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(Ids(list), (std::vector<int>{0, 1, 2}));

    // Add leaves the cursor on the new (last) node, so the next step ends the walk.
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetFirst(), &items[0]);
    EXPECT_EQ(list.GetNext(), &items[1]);
    EXPECT_EQ(list.GetNext(), &items[2]);
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetNext(), nullptr);  // stays at the end, does not wrap
    EXPECT_EQ(list.GetFirst(), &items[0]);
}

TEST_F(DoubleListTest, RemoveUnlinksAnywhereAndMovesCursorToTheFollowingElement) {
    MIDoubleList<Item> list(true, nullptr);
    for (int i = 0; i < 5; ++i) list.Add(&items[i]);

    EXPECT_EQ(list.Remove(&items[2]), &items[3]);
    EXPECT_EQ(list.GetNext(), &items[4]);
    EXPECT_EQ(list.Remove(&items[0]), &items[1]);  // first
    EXPECT_EQ(list.Remove(&items[4]), nullptr);    // last: nothing follows
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(IdsBackwards(list), (std::vector<int>{3, 1}));

    // Not in the list, or null: nothing changes.
    EXPECT_EQ(list.Remove(&items[7]), nullptr);
    EXPECT_EQ(list.Remove(nullptr), nullptr);
    EXPECT_EQ(list.GetCount(), 2);

    EXPECT_EQ(list.Remove(&items[1]), &items[3]);
    EXPECT_EQ(list.Remove(&items[3]), nullptr);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetFirst(), nullptr);
    // Emptied list is usable again (first and last were cleared).
    list.Add(&items[6]);
    EXPECT_EQ(Ids(list), (std::vector<int>{6}));
    EXPECT_EQ(IdsBackwards(list), (std::vector<int>{6}));
}

TEST_F(DoubleListTest, LocatePositionsTheCursorOrClearsIt) {
    MIDoubleList<Item> list(false, nullptr);
    for (int i = 0; i < 4; ++i) list.Add(&items[i]);
    EXPECT_EQ(list.Locate(&items[2]), &items[2]);
    EXPECT_EQ(list.GetNext(), &items[3]);
    EXPECT_EQ(list.Locate(&items[6]), nullptr);
    EXPECT_EQ(list.GetNext(), nullptr);  // cursor cleared by the failed search
    EXPECT_EQ(list.Locate(nullptr), nullptr);

    // A filter hides elements from the search.
    EvenIds even;
    EXPECT_EQ(list.Locate(&items[1], &even), nullptr);
    EXPECT_EQ(list.Locate(&items[2], &even), &items[2]);
}

TEST_F(DoubleListTest, FiltersSkipElementsInListAndIterator) {
    MIDoubleList<Item> list(true, nullptr);
    EvenIds even;
    EXPECT_EQ(list.GetCount(&even), 0);
    for (int i = 1; i < 7; ++i) list.Add(&items[i]);  // ids 1..6, first one rejected

    EXPECT_EQ(list.GetFirst(&even), &items[2]);
    EXPECT_EQ(list.GetNext(&even), &items[4]);
    EXPECT_EQ(list.GetNext(&even), &items[6]);
    EXPECT_EQ(list.GetNext(&even), nullptr);
    EXPECT_EQ(list.GetCount(&even), 3);
    EXPECT_EQ(list.GetCount(), 6);

    MIDoubleListIterator<Item> it(&list, &even, true);
    std::vector<int> seen;
    for (Item* e = it.Current(); e; e = it.Next()) seen.push_back(e->id);
    EXPECT_EQ(seen, (std::vector<int>{2, 4, 6}));
    EXPECT_EQ(it.Next(), nullptr);
    EXPECT_EQ(it.First(), &items[2]);
}

TEST_F(DoubleListTest, IteratorLeavesTheListCursorAlone) {
    MIDoubleList<Item> list(false, nullptr);
    for (int i = 0; i < 3; ++i) list.Add(&items[i]);
    list.GetFirst();
    EXPECT_EQ(Ids(list), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(list.GetNext(), &items[1]);

    MIDoubleList<Item> empty(false, nullptr);
    MIDoubleListIterator<Item> it(&empty);
    EXPECT_EQ(it.Current(), nullptr);
    EXPECT_EQ(it.Next(), nullptr);
}

TEST_F(DoubleListTest, SetFromArrayShortensOrExtendsTheList) {
    MIDoubleList<Item> list(false, nullptr);
    for (int i = 0; i < 4; ++i) list.Add(&items[i]);

    Item* shorter[] = {&items[7], &items[6], nullptr};
    list.Locate(&items[3]);  // cursor on a node that the shorter array frees
    list.SetFromArray(shorter);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(Ids(list), (std::vector<int>{7, 6}));
    EXPECT_EQ(IdsBackwards(list), (std::vector<int>{6, 7}));
    list.Add(&items[5]);  // appends after the new last node
    EXPECT_EQ(Ids(list), (std::vector<int>{7, 6, 5}));

    Item* longer[] = {&items[0], &items[1], &items[2], &items[3], &items[4], nullptr};
    list.SetFromArray(longer);
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_EQ(Ids(list), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(IdsBackwards(list), (std::vector<int>{4, 3, 2, 1, 0}));

    Item* none[] = {nullptr};
    list.SetFromArray(none);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetFirst(), nullptr);
    list.SetFromArray(longer);
    EXPECT_EQ(list.GetCount(), 5);
    list.SetFromArray(nullptr);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(Ids(list), std::vector<int>{});
    list.Add(&items[1]);
    EXPECT_EQ(Ids(list), (std::vector<int>{1}));
}

TEST_F(DoubleListTest, ToArrayIsNullTerminatedInListOrder) {
    MIDoubleList<Item> list(false, nullptr);
    Item** empty = list.ToArray();
    EXPECT_EQ(empty[0], nullptr);
    delete[] empty;
    for (int i = 0; i < 3; ++i) list.Add(&items[2 - i]);
    Item** array = list.ToArray();
    EXPECT_EQ(array[0], &items[2]);
    EXPECT_EQ(array[1], &items[1]);
    EXPECT_EQ(array[2], &items[0]);
    EXPECT_EQ(array[3], nullptr);
    delete[] array;
}

TEST_F(DoubleListTest, DeleteAllDeletesTheElements) {
    MIDoubleList<std::vector<int>> list(false, nullptr);
    for (int i = 0; i < 3; ++i) list.Add(new std::vector<int>(100, i));  // leak checkers see any miss
    list.DeleteAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetFirst(), nullptr);
    list.DeleteAll();
    list.Add(new std::vector<int>(1, 9));
    EXPECT_EQ(list.GetCount(), 1);
    list.DeleteAll();
}

TEST_F(DoubleListTest, SortOrdersAscendingReusingNodesAndEndsOnTheFirst) {
    KeyCompare compare;
    MIDoubleList<Item> list(false, nullptr);
    list.Sort(&compare, 0);  // empty
    EXPECT_EQ(list.GetCount(), 0);

    int keys[] = {5, 3, 7, 1, 4, 6, 2, 0};
    Item unsorted[8];
    for (int i = 0; i < 8; ++i) {
        unsorted[i] = Item{keys[i], keys[i]};
        list.Add(&unsorted[i]);
    }
    list.Sort(nullptr, 0);  // no comparator: untouched
    EXPECT_EQ(list.GetFirst(), &unsorted[0]);

    list.Sort(&compare, 0);
    EXPECT_EQ(Ids(list), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(IdsBackwards(list), (std::vector<int>{7, 6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(list.GetCount(), 8);
    EXPECT_EQ(list.GetNext(), &unsorted[3]);  // cursor was put on the first (key 0); next is key 1
}

TEST_F(DoubleListTest, SortOfEqualKeysFollowsTheQuickSortSteps) {
    KeyCompare compare;
    MIDoubleList<Item> list(false, nullptr);
    Item equal[6];
    for (int i = 0; i < 6; ++i) {
        equal[i] = Item{42, i};
        list.Add(&equal[i]);
    }
    list.Sort(&compare, 0);
    EXPECT_EQ(Ids(list), (std::vector<int>{4, 0, 3, 1, 5, 2}));

    // Mixed keys with ties: ascending by key regardless of the order among equal ones.
    MIDoubleList<Item> mixed(false, nullptr);
    Item m[7] = {{2, 0}, {1, 1}, {2, 2}, {1, 3}, {0, 4}, {2, 5}, {0, 6}};
    for (auto& e : m) mixed.Add(&e);
    mixed.Sort(&compare, 0);
    int previous = -1;
    int seen = 0;
    for (Item* e = mixed.GetFirst(); e; e = mixed.GetNext(), ++seen) {
        EXPECT_LE(previous, e->key);
        previous = e->key;
    }
    EXPECT_EQ(seen, 7);
}

TEST_F(DoubleListTest, LockFlagsGoToTheOutsideLockOnlyWhenEnabled) {
    CountingListLock outside;
    {
        MIDoubleList<Item> list(true, &outside);
        list.Add(&items[0]);
        list.GetFirst();
        EXPECT_EQ(outside.locks1, 2);
        EXPECT_EQ(outside.unlocks1, 2);
        {
            MIDoubleListIterator<Item> it(&list, nullptr, true);
            EXPECT_EQ(outside.locks0, 1);
            EXPECT_EQ(outside.unlocks0, 0);
        }
        EXPECT_EQ(outside.unlocks0, 1);
        EvenIds even;
        list.GetCount(&even);  // counts with a locking iterator
        EXPECT_EQ(outside.locks0, 2);
        EXPECT_EQ(outside.unlocks0, 2);
    }
    CountingListLock unused;
    MIDoubleList<Item> quiet(false, &unused);
    quiet.Add(&items[1]);
    quiet.Remove(&items[1]);
    EXPECT_EQ(unused.locks1 + unused.locks0, 0);
    quiet.Lock(1);  // explicit locking works whatever the flag says
    quiet.Unlock(1);
    EXPECT_EQ(unused.locks1, 1);
    EXPECT_EQ(unused.unlocks1, 1);
}

TEST_F(DoubleListTest, OwnLockKeepsConcurrentAddsAndRemovesConsistent) {
    MIDoubleList<Item> list(true, nullptr);
    constexpr int kPerThread = 500;
    std::vector<Item> a(kPerThread), b(kPerThread);
    auto work = [&list](std::vector<Item>& mine) {
        for (auto& e : mine) list.Add(&e);
        for (size_t i = 0; i < mine.size(); i += 2) list.Remove(&mine[i]);
    };
    std::thread t1(work, std::ref(a));
    std::thread t2(work, std::ref(b));
    t1.join();
    t2.join();
    EXPECT_EQ(list.GetCount(), kPerThread);
    EXPECT_EQ(static_cast<int>(Ids(list).size()), kPerThread);
}
