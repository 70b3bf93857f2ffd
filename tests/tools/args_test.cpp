// Option parsing: the forms a person types, and the mistakes they make.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "args.h"

namespace zbxcam {
namespace {

constexpr std::array<OptionSpec, 4> kSpecs{{
    {"camera", 'c', "N", "camera"},
    {"set", 's', "NAME=VALUE", "value", true},
    {"unpaced", 0, {}, "switch"},
    {"help", 'h', {}, "help"},
}};

ParseResult parse(std::vector<std::string> tokens) { return parse_args(tokens, kSpecs); }

TEST(ArgsTest, ValuesInEveryFormAndPositionalsInOrder) {
    const ParseResult r = parse({"a.png", "--camera", "3", "-s", "Gamma=120", "--set=Hue=5", "b", "--unpaced"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.value("camera"), "3");
    EXPECT_EQ(r.args.positionals, (std::vector<std::string>{"a.png", "b"}));
    // A non-repeatable option given twice is refused.
    const ParseResult twice = parse({"--camera", "3", "-c7"});
    EXPECT_FALSE(twice.ok());
    EXPECT_NE(twice.error.find("twice"), std::string::npos);
    EXPECT_EQ(r.args.values("set"), (std::vector<std::string>{"Gamma=120", "Hue=5"}));
    EXPECT_TRUE(r.args.has("unpaced"));
    EXPECT_FALSE(r.args.has("help"));
}

TEST(ArgsTest, GluedShortValueAndInlineLongValue) {
    const ParseResult r = parse({"-c7"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.value("camera"), "7");
    const ParseResult inline_value = parse({"--camera=12"});
    ASSERT_TRUE(inline_value.ok());
    EXPECT_EQ(inline_value.args.value("camera"), "12");
    // A value that looks like a negative number is still taken as the value.
    const ParseResult negative = parse({"--set", "-5"});
    ASSERT_TRUE(negative.ok());
    EXPECT_EQ(negative.args.value("set"), "-5");
}

TEST(ArgsTest, MistakesSayWhatWasWrong) {
    EXPECT_EQ(parse({"--bogus"}).error, "unknown option '--bogus'");
    EXPECT_EQ(parse({"--bogus=1"}).error, "unknown option '--bogus'");
    EXPECT_EQ(parse({"-x"}).error, "unknown option '-x'");
    EXPECT_EQ(parse({"--camera"}).error, "option '--camera' needs a value (N)");
    EXPECT_EQ(parse({"--unpaced=yes"}).error, "option '--unpaced' takes no value");
    // A switch cannot swallow the rest of its token.
    EXPECT_FALSE(parse({"-hx"}).ok());
}

TEST(ArgsTest, DoubleDashEndsOptionsAndLoneDashIsPositional) {
    const ParseResult r = parse({"--", "--camera", "-"});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.args.positionals, (std::vector<std::string>{"--camera", "-"}));
    EXPECT_FALSE(r.args.has("camera"));
}

TEST(ArgsTest, StopAtPositionalLeavesTheRest) {
    const std::vector<std::string> tokens{"--unpaced", "-c", "2", "snap", "--bogus"};
    std::size_t rest = 0;
    const ParseResult r = parse_args(tokens, kSpecs, true, &rest);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(rest, 3u);
    EXPECT_EQ(r.args.value("camera"), "2");
    EXPECT_TRUE(r.args.positionals.empty());
}

TEST(ArgsTest, Numbers) {
    EXPECT_EQ(parse_int("0"), 0);
    EXPECT_EQ(parse_int("-255"), -255);
    EXPECT_EQ(parse_int("+7"), 7);
    EXPECT_EQ(parse_int("0x00C86432"), 0x00C86432);
    EXPECT_EQ(parse_int("2147483647"), 2147483647);
    EXPECT_EQ(parse_int("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(parse_int("2147483648"));
    EXPECT_FALSE(parse_int(""));
    EXPECT_FALSE(parse_int("-"));
    EXPECT_FALSE(parse_int("12abc"));
    EXPECT_FALSE(parse_int("1.5"));
    EXPECT_FALSE(parse_int("0x"));

    EXPECT_EQ(parse_seconds("2.5"), 2.5);
    EXPECT_EQ(parse_seconds("0"), 0.0);
    EXPECT_FALSE(parse_seconds("-1"));
    EXPECT_FALSE(parse_seconds("inf"));
    EXPECT_FALSE(parse_seconds("1e3"));
    EXPECT_FALSE(parse_seconds("1.2.3"));

    EXPECT_EQ(parse_flag("ON"), true);
    EXPECT_EQ(parse_flag("1"), true);
    EXPECT_EQ(parse_flag("no"), false);
    EXPECT_FALSE(parse_flag("maybe"));
}

TEST(ArgsTest, HelpListsOptionsAligned) {
    const std::string text = format_options(kSpecs);
    EXPECT_NE(text.find("  -c, --camera N"), std::string::npos);
    EXPECT_NE(text.find("      --unpaced"), std::string::npos);
    // Every help text starts in the same column.
    std::size_t column = std::string::npos;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
        const std::string line = text.substr(start, end - start);
        const std::size_t gap = line.find("  ", 8);
        const std::size_t help = line.find_first_not_of(' ', gap);
        if (column == std::string::npos) column = help;
        EXPECT_EQ(help, column) << line;
    }
}

}  // namespace
}  // namespace zbxcam
