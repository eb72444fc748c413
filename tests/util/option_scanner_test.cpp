#include "util/option_scanner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvard {
namespace {

// Scans args as both command lines do, with --v the one option that takes a value, and returns what
// it saw, ending in the error text.
std::string scan(std::vector<std::string_view> args) {
    std::string error;
    std::string seen;
    OptionScanner s(args, error);
    while (s.next()) {
        std::string_view value;
        if (!s.isOption())
            seen += "word " + std::string(s.argument()) + "; ";
        else if (s.name() == "--v" && s.takeValue(value))
            seen += "--v=" + std::string(value) + "; ";
        else if (s.name() != "--v" && s.noValue())
            seen += std::string(s.name()) + "; ";
    }
    return seen + error;
}

// The messages are the ones halvard-cli and the emulator print, word for word.
TEST(OptionScanner, SplitsAtTheFirstEqualsAndTakesOrRefusesValues) {
    EXPECT_EQ(scan({"x", "-", "--v=a=b", "--v", "-h", "-a=1", "--a"}),
              "word x; word -; --v=a=b; --v=-h; -a=1; --a; ");
    EXPECT_EQ(scan({"--v", "1", "--v"}), "--v=1; --v needs a value");
    EXPECT_EQ(scan({"--a=1", "--a"}), "--a takes no value") << "scanning stops at the first error";
    EXPECT_EQ(scan({"--v="}), "--v=; ") << "an empty value is a value";
    EXPECT_EQ(scan({"--a", "--", "-dark", "--", "--v"}), "--a; word -dark; word --; word --v; ")
        << "after \"--\" every argument is a word";
}

}  // namespace
}  // namespace halvard
