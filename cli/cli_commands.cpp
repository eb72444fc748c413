#include "cli/cli_commands.hpp"

#include <string_view>

namespace halvard::cli {

int runCommand(const CliOptions& o) {
    static constexpr struct {
        std::string_view name;
        int (*run)(const CliOptions&);
    } kCommands[] = {
        {"ports", commandPorts},
        {"info", commandInfo},
        {"programs", commandPrograms},
        {"programs name", commandProgramsName},
        {"programs copy", commandProgramsMove},
        {"programs swap", commandProgramsMove},
        {"backup", commandBackup},
        {"compare", commandCompare},
        {"restore", commandRestore},
        {"backups", commandBackups},
        {"ir import", commandIrImport},
        {"ir factory", commandIrFactory},
        {"ir extract", commandIrExtract},
        {"firmware flash", commandFirmwareFlash},
        {"monitor", commandMonitor},
        {"programs export", commandProgramsExport},
        {"programs import", commandProgramsImport},
        {"collection list", commandCollectionList},
        {"collection add", commandCollectionAdd},
        {"collection show", commandCollectionShow},
        {"collection export", commandCollectionExport},
        {"collection load", commandCollectionLoad},
        {"collection place", commandCollectionPlace},
        {"collection remove", commandCollectionRemove},
        {"collection tag", commandCollectionTag},
    };
    for (const auto& command : kCommands)
        if (o.command == command.name) return command.run(o);
    return kExitFailed;
}

}  // namespace halvard::cli
