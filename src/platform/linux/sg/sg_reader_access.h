// Reader access on Linux: SG_IO pass-through on the block device of the drive letter's logical
// unit. Only block devices attached through USB are opened, so a wrong letter mapping can never
// aim a vendor command or a sector write at the system disk. Thread-safe; each handle is a file
// descriptor that belongs to the thread that opened it.
#pragma once

#include "platform/linux/sg/drive_resolver.h"
#include "platform/reader_access.h"
#include "platform/trace.h"

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace tarvix::platform::linux_backend {

// Trace lines of this backend; each is written once per backend for a given cause (and device).
inline constexpr std::string_view kTraceNoRawIo =
    "SG_IO: this process lacks CAP_SYS_RAWIO, so readers will refuse vendor commands; run as root "
    "or grant cap_sys_rawio (see the README's rights on Linux)";
inline constexpr std::string_view kTraceNoDeviceAccess = "SG_IO: no read-write access to ";
inline constexpr std::string_view kTraceNotBlockDevice = "SG_IO: refused, not a block device: ";
inline constexpr std::string_view kTraceNotUsb = "SG_IO: refused, not attached through USB: ";

struct SgPaths {
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path procStatus = "/proc/self/status";
};

class SgReaderAccess final : public ReaderAccess {
public:
  SgReaderAccess(const DriveResolver& resolver, TraceSink& trace, SgPaths paths = {});

  ReaderHandle open(std::string_view driveName) override;
  bool send(ReaderHandle handle, PassThroughRequest& request) override;
  void close(ReaderHandle handle) override;

private:
  void checkRightsOnce();
  // Traces `text` + `device` unless this backend already said it.
  void traceOnce(std::string_view text, const std::filesystem::path& device);

  const DriveResolver& resolver_;
  TraceSink& trace_;
  SgPaths paths_;
  std::once_flag rightsChecked_;
  std::mutex tracedMutex_;
  std::set<std::string> traced_;
};

} // namespace tarvix::platform::linux_backend
