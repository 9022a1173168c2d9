#include "dbengine/decimal.h"

#include <gtest/gtest.h>

#include "support/raised_error.h"

namespace tabsync::dao {
namespace {

TEST(DecimalTextTest, EachNumberInTheFormOfItsPrecisionAndScale) {
  struct Case {
    const char* text;
    int precision, scale;
    const char* expected;  // nullptr: no number; "3349": too many whole digits
  };
  const Case cases[] = {
      {"12.34", 18, 4, "12.3400"},
      {" +0012.5 ", 18, 0, "12"},         // halves to even
      {"13.5", 18, 0, "14"},
      {"-0.00004", 5, 4, "0.0000"},       // no sign on zero
      {"-0.00015", 5, 4, "-0.0002"},
      {"0.000051", 5, 4, "0.0001"},
      {".5", 2, 2, "0.50"},
      {"1.5e3", 4, 0, "1500"},
      {"1e-30", 28, 28, "0.0000000000000000000000000000"},
      {"99999.995", 7, 2, "3349"},        // rounds up into a sixth whole digit
      {"123456789012345678901234567890123456789", 39, 0, "123456789012345678901234567890123456789"},
      {"1e4", 4, 0, "3349"},
      {"1,5", 18, 2, nullptr},
      {"1e", 18, 2, nullptr},
      {"-", 18, 2, nullptr},
      {"1e99999", 18, 2, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.expected && std::string(c.expected) == "3349") {
      test::ExpectError(3349, [&] { DecimalText(c.text, c.precision, c.scale); });
    } else if (!c.expected) {
      EXPECT_FALSE(DecimalText(c.text, c.precision, c.scale));
    } else {
      EXPECT_EQ(c.expected, DecimalText(c.text, c.precision, c.scale).value_or("none"));
    }
  }
}

TEST(NormalDecimalTest, TextsOfOneNumberAreOneText) {
  const std::pair<const char*, const char*> cases[] = {
      {"12.3400", "12.34"}, {"-0012.0", "-12"}, {"1.2e3", "1200"}, {"-0.000", "0"},
      {"5e-3", "0.005"},    {"abc", nullptr}};
  for (const auto& [text, normal] : cases)
    EXPECT_EQ(normal ? normal : "none", NormalDecimal(text).value_or("none")) << text;
}

}  // namespace
}  // namespace tabsync::dao
