// Opens the volume of a drive letter for the formatter. Thread-safe; each volume returned belongs
// to the one operation that opened it.
#pragma once

#include "platform/volume.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform {

// One run of the copy tool: the program and its arguments, and what it needs added to the
// environment.
struct CopyCommand {
  std::vector<std::string> argv;
  std::vector<std::string> environment;
};

class Volumes {
public:
  virtual ~Volumes() = default;
  // The volume behind `driveName` ("E:"): the disk's first partition, else the whole disk. Null
  // when it cannot be opened.
  virtual std::unique_ptr<Volume> open(std::string_view driveName) = 0;
  // Makes the system read the partition layout of the disk behind `driveName` again. Fails while
  // a volume on one of its partitions is open, the caller's own included (the kernel does not
  // drop a partition in use).
  virtual bool rereadPartitionLayout(std::string_view driveName) = 0;
  // The volume as the copy tool names it: for mtools (-i) a device node, or an image file with
  // "@@" and the byte offset of the volume in it. Nothing when there is no such volume.
  virtual std::optional<std::string> copyTarget(std::string_view driveName) const = 0;
  // The copy tool's run that puts `source` onto the volume `target` (as copyTarget names it): a
  // file into the volume's root or, with a `folderName`, a folder's content into a folder of that
  // name in the root, overwriting what is there. mtools' mcopy unless a backend's system has its
  // own tool.
  virtual CopyCommand copyCommand(const std::string& target, const std::string& source,
                                  const std::string& folderName) const;
  // Waits until what the copy tool wrote to `target` is on the medium: false when a write of it
  // failed or the device went. The copy tool may exit before its writes reach the card, and its
  // last close does not report their failure. Where the copy tool writes through, true.
  virtual bool flushCopies(const std::string& target) const;
};

} // namespace tarvix::platform
