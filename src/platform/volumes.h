// Opens the volume of a drive letter for the formatter. Thread-safe; each volume returned belongs
// to the one operation that opened it.
#pragma once

#include "platform/volume.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix::platform {

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
  // The volume as the copy tool (mtools) names it with -i: a device node, or an image file with
  // "@@" and the byte offset of the volume in it. Nothing when there is no such volume.
  virtual std::optional<std::string> copyTarget(std::string_view driveName) const = 0;
};

} // namespace tarvix::platform
