#include "printer/ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tavik {
namespace {

struct TextCase {
  ResultCode code;
  const char* text;
};

class ResultTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(ResultTexts, TableGivesTheText) {
  EXPECT_STREQ(resultText(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ResultTexts,
    ::testing::Values(TextCase{rc::kSuccess, "Success"}, TextCase{rc::kFail, "Fail"},
                      TextCase{0x8000002A, "Device is not opened"},
                      TextCase{0x80000344, "Device is not opened"},
                      TextCase{0x80000100, "Error on move to print position"},
                      TextCase{0x80000049, "Error on communication with contactless smart card"},
                      TextCase{0x800001D4, "Error on communication with contactless smart card"},
                      TextCase{0x800001D5, "Timeout on communication with contactless smart card"},
                      TextCase{0x80000200, "Invalid name"},
                      TextCase{0x80000352, "Printer in not ready to clean"}),
    [](const ::testing::TestParamInfo<TextCase>& info) {
      char name[16];
      std::snprintf(name, sizeof name, "Code%08X", info.param.code);
      return std::string(name);
    });

TEST(ResultText, UnknownCodeFallsBackToPcscText) {
  // 0x80100069 is the PC/SC status "card removed": not in our table.
  std::string text = resultText(0x80100069);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, "Fail");
  EXPECT_NE(text.find("emoved"), std::string::npos) << text;
}

TEST(ResultText, GapsInsideRangesAreNotInTheTable) {
  // 0x8000004C lies between contactless entries but has none of its own.
  std::string text = resultText(0x8000004C);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, "Error on communication with contactless smart card");
}

}  // namespace
}  // namespace tavik
