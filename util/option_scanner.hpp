#pragma once
// The scanning both command lines share (halvard-cli's and the amplifier emulator's): options
// "--name", "--name=value" and "--name value", and the words between them. Each program keeps its
// own table of names and what their values mean; this gives it one argument at a time and the two
// messages every option shares, "NAME needs a value" and "NAME takes no value". After "--" every
// argument is a word, so that a word may start with '-'.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace halvard {

class OptionScanner {
public:
    // The messages go into error, which the caller owns and reads; scanning stops once it is set.
    OptionScanner(std::span<const std::string_view> args, std::string& error) : args_(args), error_(error) {}

    // Moves to the next argument; false at the end, or once error is set.
    bool next();

    // The argument as given (a value taken with takeValue is not one).
    std::string_view argument() const { return args_[at_]; }
    // An option: an argument before any "--" that starts with '-' and is not "-" alone.
    bool isOption() const;
    // The option's name: the argument up to its first '=' when it starts with "--", else all of it.
    std::string_view name() const { return name_; }

    // For an option that takes a value: true with value set to the text after the '=', or else to
    // the next argument, which is then taken; with neither, false and error "NAME needs a value".
    bool takeValue(std::string_view& value);
    // For an option that takes no value: false and error "NAME takes no value" when the argument
    // came with "=value".
    bool noValue();

private:
    std::span<const std::string_view> args_;
    std::string& error_;
    size_t at_ = 0;    // the argument scanned
    size_t next_ = 0;  // the one after it and the values it took
    std::string_view name_;
    std::optional<std::string_view> inlineValue_;  // the text after "--name="
    bool optionsEnded_ = false;                    // "--" was passed
};

}  // namespace halvard
