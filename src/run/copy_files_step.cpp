// The copy files step: the chosen files into the root of a LUN's new volume and the chosen folder
// into a folder of its name, each by the platform's copy tool (mtools' mcopy on Linux, xcopy on
// Windows), hidden, with a two-minute limit and the exit code as the verdict.
#include "run/steps.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

namespace tarvix::run {
namespace {

constexpr std::array<text::TextId, settings::CopyList::kFileRows> kFileTexts = {
    text::kFile1Written, text::kFile2Written, text::kFile3Written,
    text::kFile4Written, text::kFile5Written, text::kFile6Written};
// Where the bar stands after each file row, whether the row was chosen or not (0: unchanged).
constexpr std::array<int, settings::CopyList::kFileRows> kFileProgress = {175, 180, 185,
                                                                          190, 195, 0};
constexpr int kFolderProgress = 200;
constexpr std::uint32_t kCopyTimeoutMs = 120000;
// The time-out scales with the station's clock, but a scaled-down clock must not cut the tool off
// before it could start and copy a few files on a busy machine.
constexpr std::chrono::seconds kCopyTimeoutRealFloor{30};

// Runs one copy onto drive `driveIndex`; false when it could not start, failed, outran its limit,
// or was ended because its reader went away or the station is closing.
bool runCopy(const StepContext& context, int driveIndex, const platform::CopyCommand& command) {
  platform::Platform& platform = context.platform;
  const auto outcome = platform.system.runHidden(
      command.argv, command.environment, platform.system.executablePath().parent_path(),
      std::max<std::chrono::nanoseconds>(platform.clock.realDuration(kCopyTimeoutMs),
                                         kCopyTimeoutRealFloor),
      [&] { return !context.closingNow() && context.readerStillBound(driveIndex); });
  if (!outcome.started) {
    if (outcome.startError != 0) {
      const std::string tool = command.argv.empty() ? "" : command.argv.front();
      context.display->messageBox(tool + ": " + std::strerror(outcome.startError));
    }
    return false;
  }
  return outcome.exited && outcome.exitCode == 0;
}

// The folder's display name: its last component.
std::string displayName(const std::string& folder) {
  std::filesystem::path path(folder);
  if (!path.has_filename()) path = path.parent_path();
  return path.filename().string();
}

} // namespace

bool copyFilesStep(const StepContext& context, int driveIndex, station::PortRecord& port, int lun) {
  if (!context.options.copyFiles) return true;
  const settings::CopyList& list = context.options.copyList;
  const int slot = context.drive(driveIndex).slot;
  const char letter = port.driveLetter[lun - 1];
  // The copy tool reaches the volume by its name: the name must still lead to the worker's reader,
  // before the target is resolved and after.
  auto target = context.readerStillBound(driveIndex)
                    ? context.platform.volumes.copyTarget(station::driveName(letter))
                    : std::nullopt;
  if (!context.readerStillBound(driveIndex)) target.reset();
  const int portNumber = port.portNumber;

  for (int row = 0; row < settings::CopyList::kFileRows; ++row) {
    const settings::CopyRow& file = list.files[row];
    if (file.chosen) {
      context.showText(slot, kFileTexts[row]);
      if (!target || !runCopy(context, driveIndex,
                              context.platform.volumes.copyCommand(*target, file.path, {}))) {
        return false;
      }
    }
    if (kFileProgress[row] != 0) context.display->setProgress(portNumber, kFileProgress[row]);
  }
  if (list.folder.chosen) {
    context.showText(slot, text::kFolderWritten);
    const std::string name = displayName(list.folder.path);
    if (!target ||
        !runCopy(context, driveIndex,
                 context.platform.volumes.copyCommand(*target, list.folder.path, name))) {
      return false;
    }
  }
  if (target && !context.platform.volumes.flushCopies(*target)) return false;
  context.display->setProgress(portNumber, kFolderProgress);
  return context.readerStillBound(driveIndex);
}

} // namespace tarvix::run
