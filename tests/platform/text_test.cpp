#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace zbx::platform {
namespace {

TEST(WideToNarrow, ConvertsAllPlanes) {
    // "a", "é", "日本", U+1F600 (a surrogate pair).
    const char16_t text[] = u"a\u00e9\u65e5\u672c\U0001F600.bmp";
    char out[64];
    std::size_t written = 0;
    ASSERT_TRUE(wide_to_narrow(text, out, sizeof out, &written));
    const char expected[] = "a\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80.bmp";
    EXPECT_STREQ(out, expected);
    EXPECT_EQ(written, sizeof expected);

    char16_t back[64];
    ASSERT_TRUE(narrow_to_wide(out, back, 64, &written));
    EXPECT_EQ(std::u16string(back), std::u16string(text));
    EXPECT_EQ(written, std::u16string(text).size() + 1);
}

TEST(WideToNarrow, UnpairedSurrogatesFail) {
    char out[32];
    for (const std::u16string& bad : {std::u16string(u"a") + char16_t(0xD800),          // high at end
                                      std::u16string(u"a") + char16_t(0xD800) + u"b",    // high, no low
                                      std::u16string(1, char16_t(0xDC00)) + u"x",        // lone low
                                      std::u16string(2, char16_t(0xD83D))}) {            // two highs
        std::strcpy(out, "stale");
        EXPECT_FALSE(wide_to_narrow(bad.c_str(), out, sizeof out));
        EXPECT_STREQ(out, "");
    }
    EXPECT_FALSE(to_utf8(std::u16string(1, char16_t(0xDFFF))).has_value());
}

TEST(WideToNarrow, RespectsTheBufferLimitExactly) {
    std::u16string name(1022, u'x');
    char out[1024];
    std::memset(out, '#', sizeof out);
    // 1022 characters + terminator fit into 1023 bytes ...
    ASSERT_TRUE(wide_to_narrow(name.c_str(), out, 1023));
    EXPECT_EQ(std::strlen(out), 1022u);
    EXPECT_EQ(out[1023], '#');  // nothing written past the limit
    // ... one more does not.
    name += u'y';
    EXPECT_FALSE(wide_to_narrow(name.c_str(), out, 1023));
    EXPECT_EQ(out[0], '\0');
    // A multi-byte character that would straddle the limit fails too.
    EXPECT_FALSE(wide_to_narrow(u"\u65e5", out, 3));
    EXPECT_TRUE(wide_to_narrow(u"\u65e5", out, 4));
    EXPECT_TRUE(wide_to_narrow(u"", out, 1));

    EXPECT_FALSE(wide_to_narrow(u"abc", out, 0));
    EXPECT_FALSE(wide_to_narrow(nullptr, out, sizeof out));
    EXPECT_FALSE(wide_to_narrow(u"abc", nullptr, 10));
}

TEST(NarrowToWide, MalformedUtf8AndOverflowFail) {
    char16_t out[8];
    for (const char* bad : {"\xC0\xAF",          // overlong '/'
                            "\xED\xA0\x80",      // encoded surrogate
                            "\xF4\x90\x80\x80",  // past U+10FFFF
                            "\xE6\x97",          // cut off
                            "\x80",              // stray continuation
                            "\xFF"}) {
        EXPECT_FALSE(narrow_to_wide(bad, out, 8)) << bad;
        EXPECT_EQ(out[0], u'\0');
    }
    EXPECT_TRUE(narrow_to_wide("1234567", out, 8));
    EXPECT_FALSE(narrow_to_wide("12345678", out, 8));
    // A character outside the basic plane takes two units.
    EXPECT_FALSE(narrow_to_wide("\xF0\x9F\x98\x80", out, 2));
    EXPECT_TRUE(narrow_to_wide("\xF0\x9F\x98\x80", out, 3));
    EXPECT_FALSE(narrow_to_wide(nullptr, out, 8));
}

class LanguageTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames)
            if (const char* v = std::getenv(name)) saved_[name] = v;
        for (const char* name : kNames) ::unsetenv(name);
    }
    void TearDown() override {
        for (const char* name : kNames) ::unsetenv(name);
        for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    }
    static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::string> saved_;
};

TEST_F(LanguageTest, JapaneseLocaleSelects1041) {
    EXPECT_EQ(system_default_language(), 1033);  // nothing set: "C"
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(system_default_language(), 1041);
    ::setenv("LC_MESSAGES", "en_US.UTF-8", 1);  // more specific wins
    EXPECT_EQ(system_default_language(), 1033);
    ::setenv("LC_ALL", "ja", 1);  // and LC_ALL beats both
    EXPECT_EQ(system_default_language(), 1041);
    ::setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(system_default_language(), 1033);
    ::setenv("LC_MESSAGES", "jv_ID", 1);
    EXPECT_EQ(system_default_language(), 1033);
}

}  // namespace
}  // namespace zbx::platform
