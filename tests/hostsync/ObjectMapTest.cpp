// The id-keyed object map and the postponed host objects it holds.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "framework/MIObjectMap.h"
#include "hostsync/MyPostponedObject.h"

namespace {

struct Keyed {
    explicit Keyed(uint32_t i, int* deleted = nullptr) : id(i), deletions(deleted) {}
    virtual ~Keyed() {
        if (deletions) ++*deletions;
    }
    uint32_t GetId() const { return id; }
    uint32_t id;
    int* deletions;
};

// A host object that counts its releases.
class HostObject : public IMInterface {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return ++releases; }
    int releases = 0;
};

}  // namespace

TEST(ObjectMap, BucketCountFollowsTheExponent) {
    EXPECT_EQ(1024u, MIObjectMap<Keyed>(10, true).GetBucketCount());
    EXPECT_EQ(2u, MIObjectMap<Keyed>(0, false).GetBucketCount());
    EXPECT_EQ(2u, MIObjectMap<Keyed>(-4, false).GetBucketCount());
    EXPECT_EQ(8u, MIObjectMap<Keyed>(35, false).GetBucketCount());  // only the low five bits count
}

TEST(ObjectMap, KeysInOneBucketAreToldApart) {
    MIObjectMap<Keyed> map(2, false);  // 4 buckets: keys 0..3 and 16..19 share bucket 0
    Keyed a(1), b(2), c(17), dup(17);
    EXPECT_TRUE(map.Add(&a));
    EXPECT_TRUE(map.Add(&b));
    EXPECT_TRUE(map.Add(&c));
    EXPECT_FALSE(map.Add(&dup));
    EXPECT_FALSE(map.Add(nullptr));
    EXPECT_EQ(3, map.GetCount());
    EXPECT_EQ(&a, map.Find(1));
    EXPECT_EQ(&b, map.Find(2));
    EXPECT_EQ(&c, map.Find(17));
    EXPECT_EQ(nullptr, map.Find(18));
    map.Remove(&dup);  // removes what the map holds under that key
    EXPECT_EQ(nullptr, map.Find(17));
    map.Remove(&a);
    map.Remove(&a);
    EXPECT_EQ(1, map.GetCount());
    EXPECT_EQ(&b, map.Find(2));
    EXPECT_EQ(0u, map.GetKey(nullptr));
}

TEST(ObjectMap, RemoveAllForgetsAndDeleteAllDestroys) {
    int deleted = 0;
    MIObjectMap<Keyed> map(4, true);
    Keyed kept(5, &deleted);
    map.Add(&kept);
    map.RemoveAll();
    EXPECT_EQ(0, map.GetCount());
    EXPECT_EQ(0, deleted);
    for (uint32_t i = 1; i <= 50; ++i) map.Add(new Keyed(i * 7, &deleted));
    EXPECT_EQ(50, map.GetCount());
    map.DeleteAll();
    EXPECT_EQ(50, deleted);
    EXPECT_EQ(0, map.GetCount());
    EXPECT_EQ(nullptr, map.Find(7));
}

TEST(ObjectMap, ALockedMapTakesAddsFromManyThreads) {
    MIObjectMap<Keyed> map(3, true);
    std::vector<std::thread> threads;
    std::vector<std::vector<Keyed>> objects(4);
    for (int t = 0; t < 4; ++t) {
        for (uint32_t i = 0; i < 200; ++i) objects[t].emplace_back(1 + t * 1000 + i);
    }
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (auto& o : objects[t]) map.Add(&o);
            for (size_t i = 0; i < objects[t].size(); i += 2) map.Remove(&objects[t][i]);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(400, map.GetCount());
    map.RemoveAll();
}

TEST(PostponedObject, IdsAreUniqueAndTheLastReleaseReleasesTheHostObject) {
    HostObject host;
    std::set<uint32_t> ids;
    MyPostponedObject* first = new MyPostponedObject(&host);
    ids.insert(first->GetId());
    for (int i = 0; i < 100; ++i) {
        MyPostponedObject* other = new MyPostponedObject(nullptr);
        ids.insert(other->GetId());
        EXPECT_EQ(0, other->Release());
    }
    EXPECT_EQ(101u, ids.size());
    EXPECT_EQ(0u, ids.count(0));
    EXPECT_EQ(2, first->AddRef());
    EXPECT_EQ(1, first->Release());
    EXPECT_EQ(0, host.releases);
    EXPECT_EQ(0, first->Release());
    EXPECT_EQ(1, host.releases);
}

TEST(PostponedObject, HeldInTheMapTheyAreDestroyedByDeleteAll) {
    HostObject host;
    auto* map = new MIObjectMap<MyPostponedObject>(10, true);
    auto* held = new MyPostponedObject(&host);
    EXPECT_TRUE(map->Add(held));
    EXPECT_EQ(held, map->Find(held->GetId()));
    map->DeleteAll();
    delete map;
    EXPECT_EQ(1, host.releases);
}
