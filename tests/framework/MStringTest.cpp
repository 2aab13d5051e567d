#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "framework/MString.h"

namespace {

// Calls through the virtual table as framework code holding an MString* does.
int FormatVia(MString* s, const char* format, int value) {
    return s->Format(format, value);
}

int Estimate(MString& s, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = s.EstimateFormatLength(format, args);
    va_end(args);
    return n;
}

}  // namespace

TEST(MStringConstruction, WithoutBufferReadsAsEmptyText) {
    MString s;
    ASSERT_NE(s.Get(), nullptr);
    EXPECT_STREQ(s.Get(), "");
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetBuffer(), nullptr);
    EXPECT_EQ(s.GetCapacity(), 0);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(s.IsNumber(false));
    EXPECT_EQ(MString(nullptr).GetBuffer(), nullptr);
    EXPECT_EQ(MString("abc", 0).GetBuffer(), nullptr);
    EXPECT_EQ(MString(s).GetBuffer(), nullptr);
    // The empty text itself holds a buffer and is a number.
    MString e("");
    EXPECT_EQ(e.GetCapacity(), 1);
    EXPECT_TRUE(e.IsNumber(true));
}

TEST(MStringConstruction, ExactSizeCopiesAndBoundedCopies) {
    MString s("hello");
    EXPECT_EQ(s.GetCapacity(), 6);
    MString part("hello", 3);
    EXPECT_STREQ(part.Get(), "hel");
    EXPECT_EQ(part.GetCapacity(), 4);
    // A bounded copy must not read past the bound of an unterminated array.
    const char raw[3] = {'x', 'y', 'z'};
    EXPECT_STREQ(MString(raw, 3).Get(), "xyz");
    MString copy(s);
    EXPECT_STREQ(copy.Get(), "hello");
    EXPECT_NE(copy.GetBuffer(), s.GetBuffer());
    std::unique_ptr<MString> clone(s.Clone());
    EXPECT_STREQ(clone->Get(), "hello");
}

TEST(MStringConstruction, NumbersInTheirTextForms) {
    EXPECT_STREQ(MString(INT_MIN).Get(), "-2147483648");
    EXPECT_STREQ(MString(2.5, static_cast<unsigned short>(0), true).Get(), "3");
    EXPECT_STREQ(MString(-2.5, static_cast<unsigned short>(0), true).Get(), "-3");
    EXPECT_STREQ(MString(0.0, static_cast<unsigned short>(2), true).Get(), "0.00");
    EXPECT_STREQ(MString(1.005, static_cast<unsigned short>(2), true).Get(), "1.01");
    EXPECT_EQ(MString(1e300, static_cast<unsigned short>(2), true).GetLength(), 304);
    // Short form: significant digits, trailing zeros dropped, the point kept.
    EXPECT_STREQ(MString(12345.6789, 7).Get(), "12345.68");
    EXPECT_STREQ(MString(3.0, 5).Get(), "3.");
    EXPECT_STREQ(MString(0.000012, 3).Get(), "1.2e-05");
    EXPECT_STREQ(MString(123456.0, 3).Get(), "1.23e+05");
    EXPECT_STREQ(MString(0.25, static_cast<unsigned short>(4), false).Get(), "0.25");
}

TEST(MStringGrowth, AppendDoublesTheNeededSize) {
    MString s("ab");
    ASSERT_EQ(s.GetCapacity(), 3);
    s.Append("cde");
    EXPECT_STREQ(s.Get(), "abcde");
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(s.GetCapacity(), 12);
    // Room left: in place, capacity unchanged.
    char* before = s.GetBuffer();
    s.Append("fg");
    s.AppendChar('h');
    EXPECT_EQ(s.GetBuffer(), before);
    EXPECT_STREQ(s.Get(), "abcdefgh");
    EXPECT_EQ(s.GetCapacity(), 12);
    s.FreeExtra();
    EXPECT_EQ(s.GetCapacity(), 9);
    EXPECT_STREQ(s.Get(), "abcdefgh");
}

TEST(MStringGrowth, AppendVariantsAndSelfAppend) {
    MString s;
    s.Append(nullptr);
    s.Append("xyz", 0);
    s.Append("xyz", -5);
    EXPECT_EQ(s.GetBuffer(), nullptr);
    s.AppendChar('a');
    EXPECT_STREQ(s.Get(), "a");
    EXPECT_EQ(s.GetCapacity(), 4);
    s.Append("bcdef", 2);
    s.AppendChar('\0');
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_EQ(s.GetLength(), 3);
    // Appending the string's own text, both growing and in place.
    s.Append(s.Get());
    EXPECT_STREQ(s.Get(), "abcabc");
    s.SetBufferSize(20);
    s.Set("xy");
    s.Append("0123456789");
    s.Append(s.GetAt(2));
    EXPECT_STREQ(s.Get(), "xy01234567890123456789");
    s.Append(MString("!"));
    EXPECT_STREQ(s.Get(), "xy01234567890123456789!");
}

TEST(MStringGrowth, InsertDeleteReplaceKeepTheTerminator) {
    MString s("hello");
    EXPECT_FALSE(s.Insert(nullptr, 0));
    EXPECT_FALSE(s.Insert("x", -1));
    EXPECT_FALSE(s.Insert("x", 6));
    EXPECT_TRUE(s.Insert("XY", 2));
    EXPECT_STREQ(s.Get(), "heXYllo");
    EXPECT_EQ(s.GetCapacity(), 8);
    EXPECT_TRUE(s.Insert("!", 7));  // at the end: appends
    EXPECT_STREQ(s.Get(), "heXYllo!");
    EXPECT_EQ(s.GetCapacity(), 18);
    EXPECT_TRUE(s.Insert(s.GetAt(5), 0));  // from its own buffer
    EXPECT_STREQ(s.Get(), "lo!heXYllo!");

    MString d("abcdef");
    EXPECT_FALSE(d.Delete(-1, 1));
    EXPECT_FALSE(d.Delete(6, 1));
    EXPECT_FALSE(d.Delete(1, -3));
    EXPECT_TRUE(d.Delete(1, 2));
    EXPECT_STREQ(d.Get(), "adef");
    EXPECT_TRUE(d.Delete(2, 100));
    EXPECT_STREQ(d.Get(), "ad");
    EXPECT_TRUE(d.Delete(0, INT_MAX));
    EXPECT_STREQ(d.Get(), "");
    EXPECT_FALSE(d.Delete(0, 1));
    EXPECT_FALSE(MString().Delete(0, 1));

    MString r("a.b.c");
    EXPECT_EQ(r.Replace(".", ".."), 2);  // scans on after each replacement, no endless growth
    EXPECT_STREQ(r.Get(), "a..b..c");
    EXPECT_EQ(r.Replace("..", ""), 2);
    EXPECT_STREQ(r.Get(), "abc");
    EXPECT_EQ(r.Replace("", "x"), 0);
    EXPECT_EQ(r.Replace(nullptr, "x"), 0);
    EXPECT_EQ(r.Replace("b", nullptr), 0);
    EXPECT_EQ(r.Replace("q", "x"), 0);
    EXPECT_TRUE(r.Replace(1, 1, "BBB"));
    EXPECT_STREQ(r.Get(), "aBBBc");
    EXPECT_TRUE(r.Replace(0, 1, r.GetAt(4)));  // replacement taken from its own buffer
    EXPECT_STREQ(r.Get(), "cBBBc");
    EXPECT_FALSE(r.Replace(9, 1, "x"));
    EXPECT_STREQ(r.Get(), "cBBBc");
}

TEST(MStringGrowth, SetIsSafeFromItsOwnBufferAndEmptiesOnNull) {
    MString s("abcdef");
    s.Set(s.GetAt(2));
    EXPECT_STREQ(s.Get(), "cdef");
    EXPECT_EQ(s.GetCapacity(), 5);
    s.Set(static_cast<const char*>(nullptr));
    EXPECT_EQ(s.GetBuffer(), nullptr);
    s.Set(MString(""));
    EXPECT_EQ(s.GetBuffer(), nullptr);
    s = "xy";
    MString t;
    t = s;
    t = t;
    EXPECT_STREQ(t.Get(), "xy");
    s.SetBufferSize(-4);
    EXPECT_EQ(s.GetBuffer(), nullptr);
    s.SetBufferSize(10);
    EXPECT_EQ(s.GetCapacity(), 10);
    EXPECT_STREQ(s.Get(), "");
}

TEST(MStringSearch, FindAndFindCharBounds) {
    MString s("abc");
    EXPECT_EQ(s.FindChar('a', 0, true), 0);
    EXPECT_EQ(s.FindChar('x', 2, true), -1);
    EXPECT_EQ(s.FindChar('c', 1, true), -1);
    EXPECT_EQ(s.FindChar('c', 1, false), 2);
    EXPECT_EQ(s.FindChar('a', 3, false), -1);
    EXPECT_EQ(s.FindChar('a', -1, true), -1);
    EXPECT_EQ(s.FindChar('\0', 0, false), -1);
    EXPECT_EQ(s.FindChar('a', true), 0);
    EXPECT_EQ(s.FindChar('c', false), 2);
    EXPECT_EQ(MString().FindChar('a', true), -1);
    EXPECT_EQ(MString("").FindChar('a', true), -1);

    MString t("abcabc");
    EXPECT_EQ(t.Find("bc"), 1);
    EXPECT_EQ(t.Find("bc", 2), 4);
    EXPECT_EQ(t.Find("bc", 6), -1);
    EXPECT_EQ(t.Find("bc", -1), -1);
    EXPECT_EQ(t.Find(nullptr), -1);
    EXPECT_EQ(t.Find("zz"), -1);
    EXPECT_EQ(MString().Find(""), -1);
}

TEST(MStringSearch, IndexingOutOfRangeUsesAHarmlessScratch) {
    MString s("ab");
    EXPECT_EQ(s[1], 'b');
    s[0] = 'X';
    EXPECT_STREQ(s.Get(), "Xb");
    s[2] = 'Q';  // the terminator is out of reach
    s[100] = 'Q';
    EXPECT_STREQ(s.Get(), "Xb");
    EXPECT_EQ(s[5], '\0');
    MString none;
    none[0] = 'Z';
    EXPECT_EQ(none.GetBuffer(), nullptr);
    EXPECT_STREQ(s.GetAt(1), "b");
    EXPECT_STREQ(s.GetAt(2), "");
    EXPECT_STREQ(none.GetAt(0), "");
}

TEST(MStringCompare, EqualityAndOrdering) {
    MString none;
    MString empty("");
    EXPECT_TRUE(none == empty);
    EXPECT_TRUE(none == static_cast<const char*>(nullptr));
    EXPECT_TRUE(empty == "");
    EXPECT_TRUE(MString("abc") == "abc");
    EXPECT_TRUE(MString("abc") != "abd");
    EXPECT_TRUE(MString("ab") != MString("abc"));
    EXPECT_FALSE(MString("a") != MString("a"));

    EXPECT_TRUE(MString("a") < MString("ab"));
    EXPECT_TRUE(MString("a") < MString("\xE9"));  // bytes compare as unsigned
    EXPECT_TRUE(MString("\xE9") > MString("z"));
    EXPECT_FALSE(MString("ab") < MString("ab"));
    EXPECT_TRUE(MString("ab") <= MString("ab"));
    EXPECT_TRUE(MString("ab") >= MString("ab"));
    // A side without buffer is never below or above.
    EXPECT_FALSE(none < MString("a"));
    EXPECT_FALSE(MString("a") > none);
    EXPECT_TRUE(none >= MString("a"));
}

TEST(MStringCompare, ConcatenationOperators) {
    MString s("n=");
    s += 5;
    s += ',';
    s += "x";
    s += MString("y");
    s += 0.5;
    EXPECT_STREQ(s.Get(), "n=5,xy0.5");
    MString base("v");
    EXPECT_STREQ((base + 12).Get(), "v12");
    EXPECT_STREQ((base + "w").Get(), "vw");
    EXPECT_STREQ((base + MString("u")).Get(), "vu");
    EXPECT_STREQ((base + 0.1).Get(), "v0.1");
    EXPECT_STREQ(base.Get(), "v");
}

TEST(MStringTrim, BlankOnlyTextsBecomeEmpty) {
    MString s("    ");
    EXPECT_EQ(s.TrimRight(false), 4);
    EXPECT_STREQ(s.Get(), "");
    EXPECT_NE(s.GetBuffer(), nullptr);  // trimming does not shrink
    MString t("   ");
    EXPECT_EQ(t.TrimRight(' '), 3);
    EXPECT_STREQ(t.Get(), "");
    MString u("  ");
    EXPECT_EQ(u.Trim(true), 2);
    EXPECT_EQ(u.TrimLeft(true), 0);
    EXPECT_EQ(MString().Trim(false), 0);
}

TEST(MStringTrim, SignedByteBlankRule) {
    // Control characters and every byte from 0x80 count as blanks unless only spaces are asked for.
    MString s("\x01\t\x80 a\xFF b\x7F\xA0\n");
    MString spaces(s);
    EXPECT_EQ(s.Trim(false), 6);
    EXPECT_STREQ(s.Get(), "a\xFF b\x7F");
    EXPECT_EQ(spaces.Trim(true), 0);
    MString mixed("  x\x90  ");
    EXPECT_EQ(mixed.TrimLeft(true), 2);
    EXPECT_EQ(mixed.TrimRight(true), 2);
    EXPECT_STREQ(mixed.Get(), "x\x90");
    EXPECT_EQ(mixed.TrimRight(false), 1);
    EXPECT_STREQ(mixed.Get(), "x");
    MString runs("--a-b--");
    EXPECT_EQ(runs.Trim('-'), 4);
    EXPECT_STREQ(runs.Get(), "a-b");
}

TEST(MStringEdit, CaseReverseMidDuplicate) {
    MString s("Hello, World 9");
    EXPECT_EQ(s.MakeUpper(), 8);
    EXPECT_STREQ(s.Get(), "HELLO, WORLD 9");
    EXPECT_EQ(s.MakeLower(), 10);
    EXPECT_STREQ(s.Get(), "hello, world 9");
    MString accented("\xC9t\xE9");
    EXPECT_EQ(accented.MakeUpper(), 1);
    EXPECT_STREQ(accented.Get(), "\xC9T\xE9");

    MString r("abcde");
    EXPECT_EQ(r.Reverse(), 2);
    EXPECT_STREQ(r.Get(), "edcba");
    EXPECT_EQ(MString().Reverse(), 0);

    MString m("abcdef");
    EXPECT_STREQ(m.Mid(2, 3).Get(), "cde");
    EXPECT_STREQ(m.Mid(4, 100).Get(), "ef");
    EXPECT_STREQ(m.Mid(6, 1).Get(), "");
    EXPECT_STREQ(m.Mid(-1, 2).Get(), "");
    EXPECT_STREQ(m.Mid(0, 0).Get(), "");

    char* dup = m.Duplicate();
    EXPECT_STREQ(dup, "abcdef");
    EXPECT_NE(dup, m.GetBuffer());
    delete[] dup;
    char* none = MString().Duplicate();
    EXPECT_STREQ(none, "");
    delete[] none;
}

TEST(MStringEdit, NumberConversionsAndChecks) {
    EXPECT_EQ(MString("  -42xyz").ToInt(), -42);
    EXPECT_EQ(MString().ToInt(), 0);
    EXPECT_EQ(MString("99999999999").ToInt(), INT_MAX);
    EXPECT_DOUBLE_EQ(MString("2.5e1").ToDouble(), 25.0);
    EXPECT_DOUBLE_EQ(MString().ToDouble(), 0.0);
    EXPECT_TRUE(MString("-1-2").IsNumber(true));  // signs are not checked for position
    EXPECT_FALSE(MString("1.5").IsNumber(true));
    EXPECT_TRUE(MString("1..5").IsNumber(false));
    EXPECT_FALSE(MString("1 5").IsNumber(false));
}

TEST(MStringFormat, PrintsWithoutOverrunningTheEstimate) {
    MString s;
    EXPECT_EQ(s.Format("%d", INT_MIN), 11);
    EXPECT_STREQ(s.Get(), "-2147483648");
    EXPECT_LT(s.GetLength(), s.GetCapacity());
    EXPECT_EQ(FormatVia(&s, "%x", -1), 8);
    EXPECT_STREQ(s.Get(), "ffffffff");
    EXPECT_EQ(s.Format("%.3f|%s|%c|%5d|%%", 1e20, "text", 'q', 42), 40);
    EXPECT_STREQ(s.Get(), "100000000000000000000.000|text|q|   42|%");
    EXPECT_EQ(s.Format("%s", ""), 0);
    EXPECT_STREQ(s.Get(), "");
    const std::string big(5000, 'z');
    EXPECT_EQ(s.Format("<%s>", big.c_str()), 5002);
    EXPECT_EQ(s.GetCapacity(), 5004);
}

TEST(MStringFormat, OwnTextAsArgumentAndNullFormat) {
    MString s("abc");
    EXPECT_EQ(s.Format("%s-%s", s.Get(), s.Get()), 7);
    EXPECT_STREQ(s.Get(), "abc-abc");
    EXPECT_EQ(s.Format(nullptr), 0);
    EXPECT_EQ(s.GetBuffer(), nullptr);
}

TEST(MStringFormat, EstimateFollowsTheDirectives) {
    MString s;
    EXPECT_EQ(Estimate(s, nullptr), 0);
    EXPECT_EQ(Estimate(s, "abc"), 4);
    EXPECT_EQ(Estimate(s, "%%"), 2);            // 3 - 2 + 1
    EXPECT_EQ(Estimate(s, "%d", 1), 8);         // 3 - 2 + 7
    EXPECT_EQ(Estimate(s, "%12d", 1), 13);      // 5 - 4 + 12
    EXPECT_EQ(Estimate(s, "%hd", 1), 6);        // 4 - 3 + 5
    EXPECT_EQ(Estimate(s, "%+d", 1), 9);        // 4 - 3 + 7 + 1
    EXPECT_EQ(Estimate(s, "%#x", 1), 11);       // 4 - 3 + 10
    EXPECT_EQ(Estimate(s, "%c", 'a'), 2);       // 3 - 2 + 1
    EXPECT_EQ(Estimate(s, "%10.4f", 1.0), 15);  // 7 - 6 + 14
    EXPECT_EQ(Estimate(s, "%f", 1.0), 13);      // 3 - 2 + 12
    EXPECT_EQ(Estimate(s, "%s", "hello"), 7);   // 3 - 2 + 6
    EXPECT_EQ(Estimate(s, "%s", static_cast<char*>(nullptr)), 2);
    EXPECT_EQ(Estimate(s, "%*d", 20, 1), 21);  // width from the argument list
    // Arguments are taken in order: the string after a double and a width is still found.
    EXPECT_EQ(Estimate(s, "%g%*s", 1.0, 3, "abcdef"), 1 + 8 + 7);
    EXPECT_EQ(Estimate(s, "%lld%s", 1LL, "abcdef"), 1 + 7 + 7);
}

TEST(MStringFormat, SetNCopiesAtMostSizeMinusOne) {
    MString s;
    EXPECT_EQ(s.SetN("abcdef", 4), 3);
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s.GetCapacity(), 4);
    EXPECT_EQ(s.SetN("ab", 10), 2);
    EXPECT_EQ(s.GetCapacity(), 3);
    EXPECT_EQ(s.SetN(nullptr, 4), 0);
    EXPECT_EQ(s.SetN("x", 0), 0);
    EXPECT_STREQ(s.Get(), "ab");
    EXPECT_EQ(s.SetN("abc", 1), 0);
    EXPECT_STREQ(s.Get(), "");
    // Not terminated within the size: nothing beyond it is read.
    const char raw[2] = {'p', 'q'};
    EXPECT_EQ(s.SetN(raw, 2), 1);
    EXPECT_STREQ(s.Get(), "p");
    EXPECT_EQ(s.SetN(s.Get(), 5), 1);
}

TEST(MStringResources, LoadStringFindsTheManufacturerAndFailsCleanly) {
    MString s("previous");
    EXPECT_TRUE(s.LoadString(platform::OwnModule(), 1008));
    EXPECT_STREQ(s.Get(), "Veltrano");
    EXPECT_EQ(s.GetCapacity(), 9);
    EXPECT_FALSE(s.LoadString(platform::OwnModule(), 4242));
    EXPECT_STREQ(s.Get(), "");
    EXPECT_EQ(s.GetBuffer(), nullptr);
}
