// SPDX-License-Identifier: Apache-2.0
// Command-line parsing of the calib tool.
#include "tools/calib/args.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandArgs, ParsesOptionsValuesAndPositionals) {
  const std::vector<ccCommandArgs::Option> options = {
      {"k1", true}, {"size", true}, {"marker", false}, {"at", true}};
  const ccCommandArgs a(
      {"dots", "--k1", "-0.25", "--size=12", "--marker", "--at", "3.5,-2", "--", "--x"}, options);
  EXPECT_EQ(a.positional(), (std::vector<std::string>{"dots", "--x"}));
  EXPECT_DOUBLE_EQ(a.number("k1", 0), -0.25);
  EXPECT_EQ(a.integer("size", 0), 12);
  EXPECT_TRUE(a.flag("marker"));
  EXPECT_FALSE(a.help());
  EXPECT_DOUBLE_EQ(a.pair("at", ccVector<2>()).y(), -2.0);
  EXPECT_EQ(a.integer("missing", 7), 7);

  EXPECT_THROW(ccCommandArgs({"--bogus"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--k1"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--marker=1"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--size", "1.5"}, options).integer("size", 0), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--k1", "nan"}, options).number("k1", 0), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--at", "3"}, options).pair("at", ccVector<2>()), ccUsageError);
  EXPECT_TRUE(ccCommandArgs({"-h"}, options).help());
}

TEST(CommandArgs, RepeatedOptionsMissingValuesAndNonPositiveNumbersAreUsageErrors) {
  const std::vector<ccCommandArgs::Option> options = {
      {"pitch", true}, {"out", true}, {"json", false}};
  EXPECT_THROW(ccCommandArgs({"--pitch", "1", "--pitch", "2"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--pitch=1", "--pitch", "1"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--json", "--json"}, options), ccUsageError);
  EXPECT_THROW(ccCommandArgs({"--out", "--json"}, options),
               ccUsageError);  // not a file named --json
  EXPECT_EQ(ccCommandArgs({"--out", "-"}, options).text("out"), "-");
  for (const char* bad : {"0", "-1", "-0", "inf", "nan", "1e999"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ccCommandArgs({"--pitch", bad}, options).positiveNumber("pitch", 1.0),
                 ccUsageError);
  }
  EXPECT_DOUBLE_EQ(ccCommandArgs({"--pitch", "1e-3"}, options).positiveNumber("pitch", 1.0), 1e-3);
}

}  // namespace
