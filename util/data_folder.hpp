#pragma once
// Where the editor keeps its data: the backups made before firmware updates and the program library.
// One small implementation per platform (posix/, windows/), chosen by the build. Any thread.

#include <filesystem>

namespace halvard {

// $XDG_DATA_HOME/halvard-editor/backups, or ~/.local/share/halvard-editor/backups when
// XDG_DATA_HOME is unset or not absolute (Linux); %LOCALAPPDATA%\Halvard Editor\backups (Windows).
// Empty when neither the variable nor a home folder is known. The folder may not exist yet.
std::filesystem::path backupsFolder();

// The program library's file: $HALVARD_LIBRARY when set, else beside that folder:
// $XDG_DATA_HOME/halvard-editor/library.sqlite3 (Linux), %LOCALAPPDATA%\Halvard
// Editor\library.sqlite3 (Windows); empty as above.
std::filesystem::path libraryFile();

}  // namespace halvard
