#pragma once
// Typing into a GTK file dialog on the X display with xdotool, as a user does: focus the dialog,
// ctrl+L for the location entry, the path, Return.

#include <cstdlib>
#include <string>

namespace halvard::testing {

inline bool runShell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Single quotes for the shell.
inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The xdotool keys that type path into the dialog's location entry and confirm it.
inline std::string keysTypingPath(const std::string& path) {
    return "xdotool key ctrl+l && sleep 0.2 && xdotool type --delay 5 " + shellQuoted(path) +
           " && sleep 0.2 && xdotool key Return";
}

// Waits (up to 10 s) for the visible window titled title, focuses it and runs the shell command
// keys; false when no such window came or a key failed.
inline bool typeIntoDialog(const std::string& title, const std::string& keys) {
    const std::string find =
        "xdotool search --sync --onlyvisible --name " + shellQuoted("^" + title + "$") + " | head -n1";
    return runShell("w=$(timeout 10 " + find +
                    ") && [ -n \"$w\" ] && xdotool windowfocus --sync $w && sleep 0.3 && " + keys);
}

}  // namespace halvard::testing
