// The tool as a person meets it: help for the tool and every command, and
// a wrong command line answered with a plain message and exit status 2
// before any camera is opened.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "zorbex/vcam.h"

namespace zbxcam {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class CliTest : public testing::Test {
protected:
    void SetUp() override { ZbxVcam_Reset(); }
    void TearDown() override { ZbxVcam_Reset(); }

    static Outcome zbxcam(std::vector<std::string> args) {
        std::ostringstream out, err;
        Io io{out, err, false};
        const int status = run(args, io);
        return {status, out.str(), err.str()};
    }
};

const std::vector<std::string> kCommands{"list", "info", "snap", "stream", "record", "get", "set", "reset", "demo"};

TEST_F(CliTest, ToolHelpNamesEveryCommandAndTheExitStatuses) {
    for (const char* flag : {"--help", "-h"}) {
        const Outcome r = zbxcam({flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, tool_help());
        EXPECT_TRUE(r.err.empty());
    }
    for (const std::string& c : kCommands) EXPECT_NE(tool_help().find("\n  " + c + " "), std::string::npos) << c;
    EXPECT_NE(tool_help().find("exit status: 0"), std::string::npos);
    // Nothing to do is a usage error; the help goes to the error stream.
    const Outcome bare = zbxcam({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err, tool_help());
    EXPECT_TRUE(bare.out.empty());
}

TEST_F(CliTest, EveryCommandHasHelpOnEitherSide) {
    for (const std::string& c : kCommands) {
        const std::string help = command_help(c);
        EXPECT_EQ(help.rfind("usage: zbxcam " + c, 0), 0u) << help;
        EXPECT_NE(help.find("common options:"), std::string::npos);
        for (std::vector<std::string> args : {std::vector<std::string>{c, "--help"},
                                              std::vector<std::string>{c, "-h"},
                                              std::vector<std::string>{"--help", c},
                                              // Help wins over a wrong argument.
                                              std::vector<std::string>{c, "extra", "--help"}}) {
            const Outcome r = zbxcam(args);
            EXPECT_EQ(r.status, 0) << c;
            EXPECT_EQ(r.out, help);
        }
    }
    EXPECT_TRUE(command_help("nonsense").empty());
    EXPECT_NE(command_help("snap").find("--set NAME=VALUE"), std::string::npos);
    EXPECT_NE(command_help("stream").find("--seconds S"), std::string::npos);
}

TEST_F(CliTest, VersionComesFromTheLibrary) {
    const Outcome r = zbxcam({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "zbxcam with ZorbexSdk_530RD_NQT version 28640543 (0x01B5051F)\n");
}

TEST_F(CliTest, UnknownCommandsAreUsageErrors) {
    const Outcome unknown = zbxcam({"snapp"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err,
              "zbxcam: unknown command 'snapp' (list, info, snap, stream, record, preview, dialog, get, set, reset or demo)\nsee 'zbxcam --help'\n");
}

TEST_F(CliTest, WrongOptionsAreUsageErrorsOfTheirCommand) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"snap", "a.png", "--bogus"}, "zbxcam snap: unknown option '--bogus'\n"},
        {{"--bogus", "snap"}, "zbxcam: unknown option '--bogus'\n"},
        {{"list", "--format", "png"}, "zbxcam list: unknown option '--format'\n"},
        {{"list", "extra"}, "zbxcam list: unexpected argument 'extra'\n"},
        {{"snap", "a.png", "--exposure"}, "zbxcam snap: option '--exposure' needs a value (LINES)\n"},
        {{"snap", "a.png", "-e", "lots"}, "zbxcam snap: --exposure wants a whole number, not 'lots'\n"},
        {{"snap", "a.png", "--mirror-h", "left"}, "zbxcam snap: --mirror-h wants on or off, not 'left'\n"},
        {{"snap", "a.png", "--camera", "32"}, "zbxcam snap: --camera wants a slot number 0 to 31, not '32'\n"},
        {{"-c", "x", "info"}, "zbxcam info: --camera wants a slot number 0 to 31, not 'x'\n"},
        {{"info", "--slots", "0,40"}, "zbxcam info: --slots: slot '40' is not a number 0 to 31 or a range like 0-3\n"},
        {{"info", "--scene", "stripes"}, "zbxcam info: --scene: unknown scene 'stripes' (chart, still, flat or flat:R,G,B)\n"},
        {{"info", "--noise", "600"}, "zbxcam info: --noise wants a number 0 to 512, not '600'\n"},
        {{"snap"}, "zbxcam snap: name the file to write, e.g. zbxcam snap frame.png, or - for standard output\n"},
        {{"snap", "a.png", "b.png"}, "zbxcam snap: give one file name only\n"},
        {{"stream", "--seconds", "soon"}, "zbxcam stream: --seconds wants a number such as 5 or 2.5, not 'soon'\n"},
        {{"demo", "--seconds", "0"}, "zbxcam demo: --seconds wants a number above 0, such as 3, not '0'\n"},
    };
    for (const auto& [args, first_line] : cases) {
        const Outcome r = zbxcam(args);
        EXPECT_EQ(r.status, 2) << first_line;
        EXPECT_EQ(r.err.substr(0, first_line.size()), first_line);
        EXPECT_NE(r.err.find("see 'zbxcam"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(CliTest, CommonOptionsGoEitherSideAndConfigureTheVirtualCamera) {
    // The slots reach the virtual camera before the command runs; a later
    // option wins over an earlier one.
    zbxcam({"--slots", "1", "list", "--slots", "0,3"});
    EXPECT_EQ(ZbxVcam_GetSlots(), 0b1001u);
    zbxcam({"list", "--slots", "none"});
    EXPECT_EQ(ZbxVcam_GetSlots(), 0u);
    zbxcam({"--slots", "0-2", "--scene", "flat:100,200,300", "list"});
    EXPECT_EQ(ZbxVcam_GetSlots(), 0b111u);
    ZbxVcamScene scene{};
    ASSERT_EQ(ZbxVcam_GetScene(2, &scene), ZBX_VCAM_OK);
    EXPECT_EQ(scene.kind, ZBX_VCAM_SCENE_FLAT);
    EXPECT_EQ(scene.flat_red, 100);
    EXPECT_EQ(scene.flat_blue, 300);
}

}  // namespace
}  // namespace zbxcam
