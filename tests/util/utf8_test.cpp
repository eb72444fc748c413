// Text from elsewhere made fit for a terminal: a name's control characters cannot drive it.

#include "util/utf8.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

TEST(PrintableUtf8, ControlsBecomeQuestionMarksAndOtherBytesUFFFD) {
    EXPECT_EQ(printableUtf8("VDR \x1B]0;x\x07 \xC2\x9B\x7F"), "VDR ?]0;x? ??");
    EXPECT_EQ(printableUtf8("J\xC3\xB6rg \xE2\x98\xBA"), "J\xC3\xB6rg \xE2\x98\xBA") << "UTF-8 stays";
    EXPECT_EQ(printableUtf8("\xC2\xA0\xFF"), "\xC2\xA0\xEF\xBF\xBD") << "U+00A0 is no control";
}

}  // namespace
}  // namespace halvard
