#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace ZELKUtil {
namespace {

// Format characters show as "?" at each end of their ranges, in every plane; their neighbours,
// ordinary characters that merely look alike, stay as they are.
TEST(OneLineText, FormatCharactersBecomeQuestionMarksAndTheirNeighboursStay) {
    EXPECT_EQ(OneLineText("Q750 2.01\u202E10.2"), "Q750 2.01?10.2") << "right-to-left override";
    EXPECT_EQ(OneLineText("\u00AD\u0600\u0605\u061C\u06DD\u070F\u180E\u200B\u200F\u2028\u2029"),
              "???????????");
    EXPECT_EQ(OneLineText("\u202A\u2060\u2064\u2066\u2069\u206F\uFEFF\uFFF9\uFFFB"), "?????????");
    EXPECT_EQ(OneLineText("\U000110BD\U0001BCA3\U0001D173\U0001D17A\U000E0001\U000E0020\U000E007F"),
              "???????");
    const std::string neighbours =
        "\u00AC\u00AE\u0606\u200A\u2027\u202F\u2070\uFFFC"
        "\uFFFD\U0001D172\U0001D17B\U000E0002\U000E0080";
    EXPECT_EQ(OneLineText(neighbours), neighbours);
}

}  // namespace
}  // namespace ZELKUtil
