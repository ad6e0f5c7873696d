#include "platform/volumes.h"

namespace tarvix::platform {
namespace {

// Ends the tool's options, so that no path, whatever its first character, is taken for one.
constexpr const char* kEndOfOptions = "--";
// mtools otherwise refuses volumes whose sector count is not a multiple of a track.
constexpr const char* kSkipTrackCheck = "MTOOLS_SKIP_CHECK=1";

} // namespace

// mcopy writes into the FAT volume without mounting it, so a device node or an image will do.
CopyCommand Volumes::copyCommand(const std::string& target, const std::string& source,
                                 const std::string& folderName) const {
  if (folderName.empty())
    return {{"mcopy", "-o", "-i", target, kEndOfOptions, source, "::/"}, {kSkipTrackCheck}};
  return {{"mcopy", "-s", "-o", "-i", target, kEndOfOptions, source, "::/" + folderName},
          {kSkipTrackCheck}};
}

bool Volumes::flushCopies(const std::string& /*target*/) const { return true; }

} // namespace tarvix::platform
