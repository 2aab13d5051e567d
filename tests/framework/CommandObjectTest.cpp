#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/MCommandObject.h"

namespace {

// Records every Lock / Unlock with its value.
class RecordingLock : public ILockable {
public:
    void Lock(int flag) override { locks.push_back(flag); }
    void Unlock(int flag) override { unlocks.push_back(flag); }
    std::vector<int> locks;
    std::vector<int> unlocks;
};

// A parameter of a type the command does not know.
class OddParam : public MCommandObjectParamBase {
public:
    OddParam() : MCommandObjectParamBase(42, "odd") {}
};

}  // namespace

TEST(CommandObject, EachParameterTypeKeepsItsValueAndAnswersOnlyToItsOwnGetter) {
    MCommandObject c(nullptr, 1, 0);
    EXPECT_EQ(c.AddBYTEParam(0xAB, "b"), 0);
    EXPECT_EQ(c.AddCharParam('x'), 1);
    EXPECT_EQ(c.AddIntParam(-7), 2);
    EXPECT_EQ(c.AddWORDParam(0xBEEF), 3);
    EXPECT_EQ(c.AddDWORDParam(0xDEADBEEFu), 4);
    EXPECT_EQ(c.AddFloatParam(2.5), 5);
    EXPECT_EQ(c.AddCharBufferParam("text"), 6);
    const unsigned char block[3] = {9, 0, 8};
    EXPECT_EQ(c.AddBYTEBufferParam(block, 3), 7);
    int local = 0;
    EXPECT_EQ(c.AddVoidParam(&local, 123), 8);
    ASSERT_EQ(c.GetParamCount(), 9);

    EXPECT_EQ(c.GetBYTE(0), 0xAB);
    EXPECT_EQ(c.GetChar(1), 'x');
    EXPECT_EQ(c.GetInt(2), -7);
    EXPECT_EQ(c.GetWORD(3), 0xBEEF);
    EXPECT_EQ(c.GetDWORD(4), 0xDEADBEEFu);
    EXPECT_DOUBLE_EQ(c.GetFloat(5), 2.5);
    EXPECT_STREQ(c.GetCharBuffer(6), "text");
    int size = -1;
    const void* bytes = c.GetBYTEBuffer(7, &size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(std::memcmp(bytes, block, 3), 0);
    EXPECT_NE(bytes, static_cast<const void*>(block));
    EXPECT_EQ(c.GetVoid(8, &size), &local);
    EXPECT_EQ(size, 123);

    const int expectedSizes[9] = {1, 1, 4, 2, 4, 8, 5, 3, 123};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(c.GetParamType(i), i + 1);
        EXPECT_EQ(c.GetParamSize(i), expectedSizes[i]) << i;
    }
    EXPECT_STREQ(c.GetParamName(0), "b");
    EXPECT_EQ(c.GetParamName(1), nullptr);

    // Type mismatches answer 0 / null and leave the size alone.
    EXPECT_EQ(c.GetInt(4), 0);
    EXPECT_EQ(c.GetDWORD(2), 0u);
    EXPECT_EQ(c.GetBYTE(1), 0);
    EXPECT_DOUBLE_EQ(c.GetFloat(2), 0.0);
    EXPECT_EQ(c.GetCharBuffer(7), nullptr);
    size = -1;
    EXPECT_EQ(c.GetBYTEBuffer(6, &size), nullptr);
    EXPECT_EQ(c.GetVoid(7, &size), nullptr);
    EXPECT_EQ(size, -1);
}

TEST(CommandObject, IndexesOutsideTheParametersAnswerNothing) {
    MCommandObject c(nullptr, 1, 0);
    c.AddIntParam(5);
    EXPECT_EQ(c.GetParam(-1), nullptr);
    EXPECT_EQ(c.GetParam(1), nullptr);
    EXPECT_NE(c.GetParam(0), nullptr);
    EXPECT_EQ(c.GetInt(1), 0);
    EXPECT_EQ(c.GetParamType(-1), 0);
    EXPECT_EQ(c.GetParamSize(1), 0);
    EXPECT_EQ(c.GetParamName(7), nullptr);
    int size = 99, type = 99;
    EXPECT_EQ(c.GetParamInfo(1, &size, &type), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(type, 0);
    EXPECT_NE(c.GetParamInfo(0, &size, &type), nullptr);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(type, kParamInt);
    EXPECT_EQ(c.GetParamInfo(0, nullptr, nullptr), c.GetParam(0)->GetData());
}

TEST(CommandObject, EmptyTextsAndBlocksCarryNoData) {
    MCommandObject c(nullptr, 1, 0);
    c.AddCharBufferParam(nullptr);
    c.AddCharBufferParam("");
    c.AddBYTEBufferParam(nullptr, 10);
    c.AddBYTEBufferParam("abc", -1);
    EXPECT_EQ(c.GetCharBuffer(0), nullptr);
    EXPECT_EQ(c.GetParamSize(0), 0);
    EXPECT_STREQ(c.GetCharBuffer(1), "");
    EXPECT_EQ(c.GetParamSize(1), 1);
    int size = -1;
    EXPECT_EQ(c.GetBYTEBuffer(2, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(c.GetParamSize(3), 0);
    EXPECT_EQ(c.AddParam(nullptr), -1);
    EXPECT_EQ(c.AddParamCopy(nullptr), -1);
}

TEST(CommandObject, ReserveRoundsUpToAMultipleOfEightAndKeepsTheParameters) {
    MCommandObject c(nullptr, 1, 0);
    EXPECT_EQ(c.GetCapacity(), 8);
    c.Reserve(8);
    EXPECT_EQ(c.GetCapacity(), 8);
    c.AddIntParam(11);
    c.Reserve(9);
    EXPECT_EQ(c.GetCapacity(), 16);
    c.Reserve(16);
    EXPECT_EQ(c.GetCapacity(), 16);
    c.Reserve(17);
    EXPECT_EQ(c.GetCapacity(), 24);
    c.Reserve(3);
    EXPECT_EQ(c.GetCapacity(), 24);
    EXPECT_EQ(c.GetInt(0), 11);

    // Adding reserves one slot beyond the new parameter: the eighth parameter of eight slots grows the array.
    MCommandObject d(nullptr, 1, 0);
    for (int i = 0; i < 7; ++i) d.AddIntParam(i);
    EXPECT_EQ(d.GetCapacity(), 8);
    d.AddIntParam(7);
    EXPECT_EQ(d.GetCapacity(), 16);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d.GetInt(i), i);

    MCommandObject e(nullptr, 1, 0, "named", 0);
    EXPECT_EQ(e.GetCapacity(), 0);
    EXPECT_EQ(e.AddIntParam(4), 0);
    EXPECT_EQ(e.GetCapacity(), 8);
}

TEST(CommandObject, CopiesKeepEveryByteOfABlockAndOwnTheirData) {
    const unsigned char block[6] = {1, 0, 2, 0, 0, 3};
    int local = 0;
    MCommandObject original(&local, 4, 2, "orig", 8);
    original.AddBYTEBufferParam(block, 6, "blk");
    original.AddCharBufferParam("a\0b");  // a text ends at its first zero
    original.AddVoidParam(&local, 4);
    original.SetTimeout(700);
    original.AddAttempt();

    MCommandObject copy(original);
    EXPECT_EQ(copy.GetOwner(), &local);
    EXPECT_EQ(copy.GetCode(), 4);
    EXPECT_EQ(copy.GetSubCode(), 2);
    EXPECT_STREQ(copy.GetName(), "orig");
    EXPECT_EQ(copy.GetTimeout(), 0);
    EXPECT_EQ(copy.GetAttempts(), 0);
    ASSERT_EQ(copy.GetParamCount(), 3);

    int size = 0;
    const void* bytes = copy.GetBYTEBuffer(0, &size);
    ASSERT_EQ(size, 6);
    EXPECT_EQ(std::memcmp(bytes, block, 6), 0);
    EXPECT_NE(bytes, original.GetBYTEBuffer(0, &size));
    EXPECT_STREQ(copy.GetParamName(0), "blk");
    EXPECT_STREQ(copy.GetCharBuffer(1), "a");
    EXPECT_EQ(copy.GetParamSize(1), 2);
    // The Void parameter carries the same pointer, not a copy of what it points at.
    EXPECT_EQ(copy.GetVoid(2, &size), &local);
    EXPECT_FALSE(copy.IsSame(&original));
    EXPECT_TRUE(copy.IsSame(&copy));
}

TEST(CommandObject, ParametersCopyByTypeAndUnknownTypesAreRefused) {
    MCommandObject source(nullptr, 1, 0);
    source.AddWORDParam(77, "w");
    source.AddFloatParam(-1.25);
    MCommandObject target(nullptr, 2, 0);
    EXPECT_EQ(target.AddParamCopy(source.GetParam(0)), 0);
    EXPECT_EQ(target.AddParamCopy(source.GetParam(1)), 1);
    EXPECT_EQ(target.GetWORD(0), 77);
    EXPECT_STREQ(target.GetParamName(0), "w");
    EXPECT_DOUBLE_EQ(target.GetFloat(1), -1.25);

    OddParam odd;
    EXPECT_EQ(target.AddParamCopy(&odd), -1);
    EXPECT_EQ(target.GetParamCount(), 2);
}

TEST(CommandObject, TypedAssignCopiesDataButAssignBaseNeverTakesAForeignSize) {
    const unsigned char big[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    MCommandObjectBYTEBufferParam a(big, 16, "big");
    MCommandObjectBYTEBufferParam b("xy", 2);
    b.Assign(a);
    ASSERT_EQ(b.GetSize(), 16);
    EXPECT_EQ(std::memcmp(b.GetData(), big, 16), 0);
    EXPECT_NE(b.GetData(), a.GetData());
    EXPECT_STREQ(b.GetName(), "big");

    // A one-byte parameter must not claim sixteen bytes it does not hold.
    MCommandObjectBYTEParam small(5);
    small.AssignBase(a);
    EXPECT_EQ(small.GetType(), kParamBYTEBuffer);
    EXPECT_EQ(small.GetSize(), 1);
    EXPECT_STREQ(small.GetName(), "big");

    int pointee = 0;
    MCommandObjectVoidParam v(&pointee, 4);
    MCommandObjectVoidParam w(nullptr, 0);
    w.Assign(v);
    EXPECT_EQ(w.GetData(), &pointee);
    EXPECT_EQ(w.GetSize(), 4);
}

TEST(CommandObject, TheLockIsHeldFromConstructionToDestructionWithTheUserValue) {
    RecordingLock lock;
    {
        MCommandObject c(nullptr, 1, 0, &lock, 17);
        EXPECT_EQ(lock.locks, std::vector<int>{17});
        EXPECT_TRUE(lock.unlocks.empty());
        // A copy takes no lock of its own.
        { MCommandObject copy(c); }
        EXPECT_EQ(lock.locks.size(), 1u);
        EXPECT_TRUE(lock.unlocks.empty());
    }
    EXPECT_EQ(lock.unlocks, std::vector<int>{17});
}

TEST(CommandObject, AssignReplacesContentButKeepsTheObjectsOwnLock) {
    RecordingLock lock;
    MCommandObject source(nullptr, 9, 3, "src", 8);
    source.AddIntParam(42);
    {
        MCommandObject target(nullptr, 1, 0, &lock, 5);
        target.AddCharBufferParam("old");
        target.SetTimeout(100);
        target.Assign(&source);
        EXPECT_EQ(target.GetCode(), 9);
        EXPECT_EQ(target.GetSubCode(), 3);
        EXPECT_STREQ(target.GetName(), "src");
        EXPECT_EQ(target.GetTimeout(), 0);
        ASSERT_EQ(target.GetParamCount(), 1);
        EXPECT_EQ(target.GetInt(0), 42);
        target.Assign(&target);
        target.Assign(nullptr);
        EXPECT_EQ(target.GetInt(0), 42);
    }
    // The lock taken at construction is given back exactly once.
    EXPECT_EQ(lock.locks, std::vector<int>{5});
    EXPECT_EQ(lock.unlocks, std::vector<int>{5});
}

TEST(CommandObject, NamesAttemptsAndClear) {
    MCommandObject c(nullptr, 1, 0);
    EXPECT_STREQ(c.GetName(), "");
    char name[] = "first";
    c.SetName(name);
    name[0] = 'X';
    EXPECT_STREQ(c.GetName(), "first");
    c.SetName(nullptr);
    EXPECT_STREQ(c.GetName(), "");
    EXPECT_EQ(c.AddAttempt(), 1);
    EXPECT_EQ(c.AddAttempt(), 2);
    c.AddIntParam(1);
    c.Clear();
    EXPECT_EQ(c.GetParamCount(), 0);
    EXPECT_EQ(c.GetParam(0), nullptr);
    EXPECT_EQ(c.AddIntParam(3), 0);
    EXPECT_EQ(c.GetInt(0), 3);
}
