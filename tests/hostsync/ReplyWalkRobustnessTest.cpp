// The walks of the host's XML replies take whatever bytes the host sends: random bytes, damaged replies
// and hostile nesting end in "not XML" or in some items, never in a crash.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "hostsync/KorrelRemote.h"

namespace {

class Counter : public IKorrelRemoteCallback, public IMRUserGroupIteratorCallback {
public:
    void OnUserGroup(const char* name, int) override { bytes += std::string(name).size(); }
    void OnItem(const char* name, int, int32_t) override { bytes += std::string(name).size(); }
    size_t bytes = 0;
};

void WalkAll(const std::string& reply, Counter* counter) {
    korrel_reply::ReadUserGroups(reply.c_str(), counter);
    korrel_reply::ReadItems(reply.c_str(), counter, 0);
    korrel_reply::ReadListing(reply.c_str(), counter, 0);
}

const char* const kSeeds[] = {
    "<R><Object Name=\"User Groups\" Type=\"UserGroup\"><Object Name=\"A\" Type=\"UserGroup\"/></Object></R>",
    "<R><Object Name=\"V\" Value=\"IntegerData\"/><Object Name=\"E\" Value=\"EnumData\"/></R>",
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- c --><R><![CDATA[x<y]]><Object Name='&amp;&#65;'/></R>",
};

}  // namespace

TEST(ReplyWalkRobustness, RandomBytesAreNotXml) {
    std::mt19937 rng(1234);
    Counter counter;
    for (int round = 0; round < 2000; ++round) {
        std::string reply(rng() % 200, '\0');
        for (char& c : reply) c = static_cast<char>(1 + rng() % 255);
        WalkAll(reply, &counter);
    }
    SUCCEED();
}

TEST(ReplyWalkRobustness, DamagedRepliesAreWalkedOrRefused) {
    std::mt19937 rng(99);
    const std::string alphabet = "<>/=\"'&;!?-[]ObjectNameTypeValue \xEF\xBB\xBF\xC3\xFF";
    Counter counter;
    for (const char* seed : kSeeds) {
        for (int round = 0; round < 3000; ++round) {
            std::string reply = seed;
            const int edits = 1 + static_cast<int>(rng() % 6);
            for (int e = 0; e < edits && !reply.empty(); ++e) {
                const size_t at = rng() % reply.size();
                switch (rng() % 3) {
                    case 0:
                        reply[at] = alphabet[rng() % alphabet.size()];
                        break;
                    case 1:
                        reply.insert(at, 1, alphabet[rng() % alphabet.size()]);
                        break;
                    default:
                        reply.erase(at, 1 + rng() % 8);
                        break;
                }
            }
            WalkAll(reply, &counter);
        }
    }
    SUCCEED();
}

TEST(ReplyWalkRobustness, HostileNestingIsRefusedBeforeParsing) {
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<Object Name=\"g\" Type=\"UserGroup\">";
    Counter counter;
    EXPECT_FALSE(korrel_reply::ReadUserGroups(("<R>" + deep).c_str(), &counter));
    EXPECT_EQ(0u, counter.bytes);

    // A tree as deep as the limit allows is still walked to its bottom.
    std::string fits = "<R>";
    for (int i = 1; i < korrel_reply::kMaxReplyDepth; ++i) fits += "<Object Name=\"g\" Type=\"UserGroup\">";
    for (int i = 1; i < korrel_reply::kMaxReplyDepth; ++i) fits += "</Object>";
    fits += "</R>";
    EXPECT_TRUE(korrel_reply::ReadUserGroups(fits.c_str(), &counter));
    EXPECT_EQ(static_cast<size_t>(korrel_reply::kMaxReplyDepth - 1), counter.bytes);
}

TEST(ReplyWalkRobustness, NestingScanPassesOverTextThatLooksLikeTags) {
    EXPECT_EQ(0, korrel_reply::NestingDepth(""));
    EXPECT_EQ(1, korrel_reply::NestingDepth("<a/><b></b><c x=\"<d>\" y='/>'></c>"));
    EXPECT_EQ(2, korrel_reply::NestingDepth("<a><!-- <b><c> --><![CDATA[<e><f>]]><?p <g>?><b/><h></h></a>"));
    EXPECT_EQ(3, korrel_reply::NestingDepth("<a><b><c>"));
    EXPECT_EQ(1, korrel_reply::NestingDepth("<a x=\"unterminated"));
}
