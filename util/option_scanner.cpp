#include "util/option_scanner.hpp"

namespace halvard {

bool OptionScanner::next() {
    if (!error_.empty()) return false;
    if (!optionsEnded_ && next_ < args_.size() && args_[next_] == "--") {
        optionsEnded_ = true;
        ++next_;
    }
    if (next_ >= args_.size()) return false;
    at_ = next_++;
    name_ = args_[at_];
    inlineValue_.reset();
    if (optionsEnded_) return true;
    if (const size_t eq = name_.find('='); name_.starts_with("--") && eq != std::string_view::npos) {
        inlineValue_ = name_.substr(eq + 1);
        name_ = name_.substr(0, eq);
    }
    return true;
}

bool OptionScanner::isOption() const {
    const std::string_view arg = argument();
    return !optionsEnded_ && arg.starts_with("-") && arg != "-";
}

bool OptionScanner::takeValue(std::string_view& value) {
    if (inlineValue_) {
        value = *inlineValue_;
        return true;
    }
    if (next_ >= args_.size()) {
        error_ = std::string(name_) + " needs a value";
        return false;
    }
    value = args_[next_++];
    return true;
}

bool OptionScanner::noValue() {
    if (inlineValue_) error_ = std::string(name_) + " takes no value";
    return !inlineValue_;
}

}  // namespace halvard
