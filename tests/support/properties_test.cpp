#include "support/properties.h"

#include <gtest/gtest.h>

#include <climits>

#include "support/vdk_exception.h"

namespace {

using vdk::Properties;

const Properties::Property* Find(const Properties& set, const std::string& name)
{
    return set.GetProperty(name).get();
}

TEST(PropertiesParseTest, CommentsMasksTrimmingAndLineNumbers)
{
    Properties set;
    set.Parse("a=1\r\n\r\n# note\r\nb = two words # c ## d\r\n");
    std::vector<std::string> keys;
    EXPECT_EQ(set.GetKeys("", keys), 3);
    EXPECT_EQ(keys, (std::vector<std::string>{"\n2", "a", "b"}));

    const auto* a = Find(set, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->value, "1");
    EXPECT_EQ(a->index, 1u);
    const auto* note = Find(set, "\n2");
    ASSERT_NE(note, nullptr) << "the empty line is not counted";
    EXPECT_EQ(note->value, "# note");
    EXPECT_EQ(note->comment, " note");
    EXPECT_EQ(note->index, 2u);
    const auto* b = Find(set, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->value, "two words");
    EXPECT_EQ(b->comment, " c # d");
    EXPECT_EQ(b->index, 3u);
    EXPECT_TRUE(set.IsModified());
}

TEST(PropertiesParseTest, SingleLineForms)
{
    struct Case { const char* text; const char* name; const char* value; const char* comment; } cases[] = {
        {"k=a##b", "k", "a#b", ""},
        {"k=a###b", "k", "a#", "b"},
        {"k=#x", "k", "", "x"},
        {"a = b = c", "a", "b = c", ""},
        {"a=", "a", "", ""},
        {"\t name \t=\t v w \t", "name", "v w", ""},
        {"a=1\rb=2", "a", "1b=2", ""},
        {"k=v #  spaced  ", "k", "v", "  spaced  "},
        {"   ", "\n1", "   ", ""},
        {"# only", "\n1", "# only", " only"},
    };
    for (const auto& c : cases) {
        Properties set;
        set.Parse(c.text);
        const auto* p = Find(set, c.name);
        ASSERT_NE(p, nullptr) << c.text;
        EXPECT_EQ(p->value, c.value) << c.text;
        EXPECT_EQ(p->comment, c.comment) << c.text;
    }
}

TEST(PropertiesParseTest, BadLinesAreRejectedWithTheirLineNumber)
{
    struct Case { const char* text; const char* message; size_t kept; } cases[] = {
        {"=1", "Properties: wrong data in config data  in line 1", 0},
        {"abc", "Properties: wrong data in config data  in line 1", 0},
        {"x=1\n\n\n# c\n  abc  # x\ny=2", "Properties: wrong data in config data  in line 3", 2},
        {"x=1\r\n = 2", "Properties: wrong data in config data  in line 2", 1},
    };
    for (const auto& c : cases) {
        Properties set;
        try {
            set.Parse(c.text);
            ADD_FAILURE() << c.text << ": accepted";
        } catch (const vdk::Exception& e) {
            EXPECT_STREQ(e.what(), c.message) << c.text;
        }
        std::vector<std::string> keys;
        EXPECT_EQ(set.GetKeys("", keys), static_cast<int>(c.kept)) << c.text;
        EXPECT_TRUE(set.IsModified());
    }
    Properties empty;
    EXPECT_NO_THROW(empty.Parse(""));
    std::vector<std::string> keys;
    EXPECT_EQ(empty.GetKeys("", keys), 0);
}

TEST(PropertiesParseTest, LaterLineWinsWithItsLineNumber)
{
    Properties set;
    set.Parse("k=1 # first\nother=x\nk = 2\n");
    EXPECT_EQ(set.Get("k"), "2");
    EXPECT_EQ(Find(set, "k")->index, 3u);
    EXPECT_EQ(Find(set, "k")->comment, "");
    set.Parse("z=9");
    EXPECT_EQ(set.Get("k"), "") << "Parse replaces the whole content";
}

TEST(PropertiesGetterTest, BooleansAreExactWords)
{
    Properties set;
    set.Parse("t1=TRUE\nt2=true\nt3=1\nt4=yes\nf1=FALSE\nf2=false\nf3=0\nf4=no\nempty=\nbad=Yes\nbad2=True");
    for (const char* n : {"t1", "t2", "t3", "t4"})
        EXPECT_TRUE(set.GetAsBool(n, false)) << n;
    for (const char* n : {"f1", "f2", "f3", "f4"})
        EXPECT_FALSE(set.GetAsBool(n, true)) << n;
    EXPECT_TRUE(set.GetAsBool("empty", true));
    EXPECT_FALSE(set.GetAsBool("absent", false));
    try {
        set.GetAsBool("bad", false);
        ADD_FAILURE() << "Yes accepted";
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ(e.what(), "Bad value for boolean option \"Yes\"");
    }
    EXPECT_THROW(set.GetAsBool("bad2", false), vdk::Exception);
}

TEST(PropertiesGetterTest, NumbersWithSuffixesAndRangeChecks)
{
    struct Case {
        const char* value;
        int asInt;            // default 7
        unsigned asUInt;      // default 8
        uint32_t asULong;     // default 9
    } cases[] = {
        {"12", 12, 12, 12},
        {" 12", 12, 12, 12},
        {"12abc", 12, 12, 12},
        {"+12", 12, 12, 12},
        {"4k", 4096, 4096, 4096},
        {"4 KB", 4096, 4096, 4096},
        {"2mb", 2 * 1048576, 2 * 1048576, 2 * 1048576},
        {"abc", 7, 8, 9},
        {"k", 7, 8, 9},
        {"-12", -12, 8, 9},               // negative never wraps into an unsigned
        {"-1", -1, 8, 9},
        {"2147483647", INT_MAX, 2147483647u, 2147483647u},
        {"2147483648", 7, 2147483648u, 2147483648u},
        {"-2147483648", INT_MIN, 8, 9},
        {"4294967295", 7, 4294967295u, 4294967295u},
        {"4294967296", 7, 8, 9},
        {"99999999999999999999", 7, 8, 9},
        {"3g", 7, 3u << 30, 3u << 30},   // 3 GiB does not fit an int
        {"4g", 7, 8, 9},                 // 4 GiB fits none of them
        {"-2g", INT_MIN, 8, 9},
        {"2097151k", 2097151 * 1024, 2097151u * 1024, 2097151u * 1024},
        {"2097152k", 7, 2097152u * 1024, 2097152u * 1024},
    };
    for (const auto& c : cases) {
        Properties set;
        set.Put("n", c.value);
        EXPECT_EQ(set.GetAsInt("n", 7), c.asInt) << c.value;
        EXPECT_EQ(set.GetAsUInt("n", 8), c.asUInt) << c.value;
        EXPECT_EQ(set.GetAsULong("n", 9), c.asULong) << c.value;
    }
    Properties set;
    set.Put("empty", "");
    EXPECT_EQ(set.GetAsInt("empty", -3), -3);
    EXPECT_EQ(set.GetAsInt("absent", -3), -3);
    EXPECT_EQ(set.Get("empty", "dflt"), "dflt");
    EXPECT_EQ(set.Get("absent"), "");
}

TEST(PropertiesEditTest, PutDeleteMergeAndKeys)
{
    Properties set;
    EXPECT_FALSE(set.IsModified());
    set.Put("LogLevel", "3", "level");
    set.Put("LogMode", "x");
    set.Put("Mode", "y");
    set.Put("LogLevel", "4", "ignored");
    EXPECT_EQ(Find(set, "LogLevel")->comment, "level");
    EXPECT_EQ(Find(set, "LogLevel")->index, 1u);
    EXPECT_EQ(set.Get("LogLevel"), "4");

    std::vector<std::string> keys{"pre"};
    EXPECT_EQ(set.GetKeys("Log", keys), 3);
    EXPECT_EQ(keys, (std::vector<std::string>{"pre", "LogLevel", "LogMode"}));

    set.Delete("LogLevel");
    set.Put("New", "n");
    EXPECT_EQ(Find(set, "New")->index, 3u) << "reuses the index of Mode";
    EXPECT_EQ(set.GetAsDataFile(), "LogMode=x\nMode=y\nNew=n\n");

    Properties other;
    other.Put("Mode", "other");
    other.Put("Fresh", "f");
    other.Put("Blank", "");
    Properties target;
    target.Put("Mode", "mine");
    target.Put("Blank", "");
    Properties fresh;
    fresh.Merge(target, true);
    EXPECT_FALSE(fresh.IsModified()) << "merge does not mark";
    target.Merge(other, false);
    EXPECT_EQ(target.Get("Mode"), "mine");
    EXPECT_EQ(target.Get("Fresh"), "f");
    target.Merge(other, true);
    EXPECT_EQ(target.Get("Mode"), "other");
    other.Put("Mode", "shared");
    EXPECT_EQ(target.Get("Mode"), "shared") << "merged entries are shared, not copied";
}

TEST(PropertiesEditTest, MaskHelpers)
{
    struct Case { const char* in; const char* masked; const char* preunmasked; } cases[] = {
        {"a#b", "a##b", "a#b"}, {"##", "####", "\r"}, {"###", "######", "\r#"}, {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string m = c.in, p = c.in;
        Properties::Mask(m);
        Properties::Preunmask(p);
        EXPECT_EQ(m, c.masked);
        EXPECT_EQ(p, c.preunmasked);
        Properties::Unmask(p);
        EXPECT_EQ(p.find('\r'), std::string::npos);
    }
}

}  // namespace
