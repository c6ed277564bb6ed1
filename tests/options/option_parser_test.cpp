#include "options/option_table.h"
#include "options/option_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct Parsed {
    bool ok;
    std::string output;
};

// Parses an argument list (program name added) against the program's own table.
class OptionTable : public ::testing::Test {
protected:
    OptionTable() : parser(out) { registerFramendOptions(parser); }

    Parsed parse(std::vector<std::string> args) {
        args.insert(args.begin(), "framend");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        out.str("");
        const bool ok = parser.parse(static_cast<int>(args.size()), argv.data());
        return {ok, out.str()};
    }

    std::ostringstream out;
    OptionParser parser;
};

}  // namespace

TEST_F(OptionTable, EachErrorLineIsExact) {
    EXPECT_EQ(parse({"foo"}).output, "ERROR : Unexpected parameter foo!\n");
    EXPECT_EQ(parse({"-x"}).output, "ERROR : Unknown option -x!\n");
    EXPECT_EQ(parse({"-"}).output, "ERROR : Unknown option -!\n");
    EXPECT_EQ(parse({"-i"}).output, "ERROR : Option -i expects parameter!\n");
    EXPECT_EQ(parse({"-start", "-5"}).output, "ERROR : Option -start expects parameter!\n");
    EXPECT_EQ(parse({"-start", "abc"}).output, "ERROR : Option -start parameter in wrong format (bad cast) !\n");
    EXPECT_EQ(parse({"-fps", ""}).output, "ERROR : Option -fps parameter in wrong format (bad cast) !\n");
    EXPECT_FALSE(parse({"-nfd", "stray"}).ok);
    // An int32 that does not fit is not silently wrapped.
    EXPECT_FALSE(parse({"-v", "99999999999"}).ok);
}

TEST_F(OptionTable, NumbersTakeTheLongestValidPrefix) {
    ASSERT_TRUE(parse({"-fps", "29.97", "-fw", "1920.5", "-ar", "12abc", "-stopofs", "5000000000", "-fh", " 7", "-v",
                       "29.97"}).ok);
    EXPECT_FLOAT_EQ(parser.getFloat("fps", 0), 29.97f);
    EXPECT_EQ(parser.getInt("fw", 0), 1920);
    EXPECT_EQ(parser.getInt("ar", 0), 12);
    EXPECT_EQ(parser.getInt64("stopofs", 0), 5000000000LL);
    EXPECT_EQ(parser.getInt("fh", 0), 7);
    EXPECT_EQ(parser.getInt("v", 0), 29);  // an integer takes the whole part of a decimal
    EXPECT_EQ(parser.getString("ar"), "12abc");  // the text is kept as given
}

TEST_F(OptionTable, DefaultsApplyOnlyWhenNotGiven) {
    ASSERT_TRUE(parse({"-i", "a.mov"}).ok);
    EXPECT_EQ(parser.getInt("stop", 100), 100);
    EXPECT_EQ(parser.getString("ref", "a.mov"), "a.mov");
    EXPECT_EQ(parser.getString("o"), "");
    EXPECT_FALSE(parser.isSet("nfd"));
    EXPECT_FALSE(parser.isSet("no-such-option"));
    EXPECT_EQ(parser.getInt("no-such-option", 7), 7);
}

TEST_F(OptionTable, RepeatsOverwriteAndCount) {
    ASSERT_TRUE(parse({"-v", "3", "-v", "5", "-nfd", "-nfd"}).ok);
    EXPECT_EQ(parser.getInt("v", 0), 5);
    EXPECT_TRUE(parser.isSet("nfd"));
    EXPECT_EQ(parser.setCount(), 4);
}

// In registration order, floats with six significant digits.
TEST_F(OptionTable, EchoFollowsRegistrationOrder) {
    ASSERT_TRUE(parse({"-i", "a.mov", "-fps", "29.97002997", "-nfd", "-dump", "-simcorr", "7"}).ok);
    out.str("");
    parser.printSetOptions();
    EXPECT_EQ(out.str(), "i : a.mov\nnfd : enabled\nsimcorr : 7\nfps : 29.97\ndump : enabled\n");
}

TEST_F(OptionTable, HelpListsGroupsInOrderAndHidesHiddenOptions) {
    parser.printHelp();
    const std::string help = out.str();
    EXPECT_EQ(help.rfind("\ngeneral parameters\n", 0), 0u) << help.substr(0, 40);
    const auto general = help.find("general parameters");
    const auto video = help.find("\nvideo parameters\n");
    const auto audio = help.find("\naudio parameters\n");
    EXPECT_LT(general, video);
    EXPECT_LT(video, audio);
    EXPECT_EQ(help.find("hidden"), std::string::npos);
    EXPECT_EQ(help.find("-   dump"), std::string::npos);
    EXPECT_EQ(help.find("simulate successful scan"), std::string::npos);
    // Right-aligned name and parameter fields.
    EXPECT_NE(help.find("\n  -      i  [inputfile] - set input file (broken.mp4)\n"), std::string::npos);
    EXPECT_NE(help.find("\n  -    nfd              - activate new clip detection\n"), std::string::npos);
    // Names longer than the field are printed whole.
    EXPECT_NE(help.find("\n  -startofs     [offset] - start scan position (absolute byte offset)\n"),
              std::string::npos);
    EXPECT_NE(help.find("\n  -canoncrmnotailfade              - disable Canon CRM"), std::string::npos);
}
