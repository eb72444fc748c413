// halvard-cli firmware flash: a local firmware image to the amplifier, after a backup of its
// programs.

#include <algorithm>
#include <cstdio>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "device/firmware/firmware_download.hpp"
#include "device/firmware/firmware_update.hpp"
#include "util/files.hpp"
#include "util/paths.hpp"

namespace halvard::cli {
namespace {

int flash(Session& s, const CliOptions& o, const FirmwareImage& image) {
    if (const ReplyResult r = readFirmwareVersion(s.link); r != ReplyResult::Ok) return fail(stopReason(r));
    const uint16_t amplifier = s.mirror.firmwareVersion;
    const uint16_t version = firmwareImageVersion(image);
    if (version <= amplifier && !o.force)
        return fail("the image's firmware " + versionText(version) + " is not newer than the amplifier's " +
                    versionText(amplifier) + " (--force flashes it anyway)");

    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the backup is not kept in the library");
    s.link.library = library.get();
    // Every program kept first, as a file and in the library: an update that fails may leave the
    // amplifier's programs as they were, or not.
    const std::optional<ProgramFile> now = readAllPrograms(s, o, "backup");
    if (!now) return fail("no backup of the programs, nothing sent");
    const std::optional<AutomaticBackup> kept =
        keptBeforeWriting(s, *now, o, BackupReason::BeforeFirmwareUpdate, true);
    if (!kept) return kExitFailed;
    const std::string folder =
        kept->file.empty() ? std::string("no folder (--no-backup)") : kept->file.parent_path().string();

    ProgressDisplay progress("firmware");
    s.progress = &progress;
    const ReplyResult sent = sendFirmware(s.link, image);
    // A block that went unanswered or a stop in the transfer leaves the amplifier's firmware unknown.
    if (sent == ReplyResult::NotSent) return fail(stopReason(sent));
    if (sent != ReplyResult::Ok) {
        fail(stopReason(sent) +
             "; the firmware may be partly sent: flash it again (the programs' backup is in " + folder + ")");
        return kExitPartial;
    }
    if (!pauseFor(s.link, kAfterUpdatePauseMs) || !outputOpen(s.link)) {
        fail("firmware " + versionText(version) + " sent, but no restart was asked for (" +
             (s.link.quit ? "interrupted" : "the amplifier's ports closed") +
             "): restart the amplifier by hand");
        return kExitPartial;
    }
    requestRestart(s.link);
    return report(
        o,
        {{"firmware", versionText(version)}, {"previous", versionText(amplifier)}, {"backupFolder", folder}},
        "firmware " + versionText(version) + " sent; the amplifier restarts\n");
}

}  // namespace

int commandFirmwareFlash(const CliOptions& o) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readWholeFile(pathFromUtf8(o.operands[0]), kFirmwareImageBytes + 1, bytes, error))
        return fail(error);
    if (bytes.size() != kFirmwareImageBytes)
        return fail(o.operands[0] + " has " + std::to_string(bytes.size()) +
                    " bytes; an image has exactly 131072");
    FirmwareImage image{};
    std::copy(bytes.begin(), bytes.end(), image.begin());
    if (!o.yes) return refuse("flashing cannot be undone from here", "flashes it");
    return onAmplifier(o, [&](Session& s) { return flash(s, o, image); });
}

}  // namespace halvard::cli
