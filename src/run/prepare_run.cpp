#include "run/prepare_run.h"

#include "run/serial_counter.h"
#include "settings/profile_file.h"
#include "settings/value_rules.h"
#include "text/texts.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarvix::run {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMemoryMarginKiB = 51200;
// The card information keeps image sizes in 32 bits; a larger image would be cut and pass.
constexpr std::uint64_t kLargestImageBytes = 0xFFFFFFFFu;
constexpr std::uint32_t kBinaryAreaExtra = 512;

// Exactly `size` bytes of `path`, read once into one allocation; nothing when it cannot.
std::optional<std::vector<std::uint8_t>> readImage(const fs::path& path, std::uint64_t size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::uint64_t>(in.gcount()) != size) return std::nullopt;
  return bytes;
}

class Preparing {
public:
  Preparing(const RunOptions& options, platform::Platform& platform, const SerialCounter& serials)
      : options_(options), platform_(platform), serials_(serials),
        availableKiB_(platform.system.availableMemoryBytes() >> 10) {
    result_.copyList = options.copyList;
  }

  Preparation prepare() {
    // Readers of this identity are then one device to the system whatever serial number a run
    // writes into them, so none is set up anew; asked at every run start, refused or not.
    platform_.system.ignoreSerialNumbersOf(options_.card.vid, options_.card.pid);
    if (!cardTextsWritable() || !serialsAvailable() || !loadImages() || !addCopyFileSizes())
      return std::move(result_);
    run_.options = options_;
    run_.options.copyList = result_.copyList;
    result_.run = std::move(run_);
    return std::move(result_);
  }

private:
  bool refuse(text::TextId text, std::vector<std::string> arguments = {}) {
    result_.refusal = Refusal{text, std::move(arguments)};
    return false;
  }

  bool cardTextsWritable() {
    // The label edit takes any character; FAT does not, and fsck.fat would call the volume
    // damaged.
    if (options_.format && !settings::fatLabel(options_.diskLabel))
      return refuse(text::kLabelNotFat, {options_.diskLabel});
    // Past twelve digits a serial number would be cut into one already handed out.
    const std::string& serial = options_.serialStart;
    if (options_.writeParameter &&
        (serial.size() > kSerialDigits || !settings::decimalDigits(serial)))
      return refuse(text::kSerialTooLong, {serial});
    return true;
  }

  // Refused now rather than guessed later: a number not taken from the line could repeat one.
  bool serialsAvailable() {
    if (auto why = serials_.unavailable(options_)) return refuse(text::kLineGivesNoSerials, {*why});
    return true;
  }

  bool memoryAllows(std::uint64_t bytes) const {
    const std::uint64_t kib = bytes >> 10;
    return kib == 0 || (availableKiB_ >= kib && availableKiB_ - kib >= kMemoryMarginKiB);
  }

  bool loadImages() {
    std::uint64_t bytes = 0;
    LoadedImages& images = run_.images;
    if (options_.cdromArea && !options_.resetToDefault) {
      if (!takeImage(options_.isoPath, text::kIsoLoadFailed, 0, bytes, images.iso)) return false;
      images.isoSize = static_cast<std::uint32_t>(images.iso.size());
    }
    if (options_.binaryArea && !options_.resetToDefault) {
      if (!takeImage(options_.binPath, text::kBinaryLoadFailed, kBinaryAreaExtra, bytes,
                     images.binary))
        return false;
      images.binSize = static_cast<std::uint32_t>(images.binary.size());
      images.binAreaSize = images.binSize + kBinaryAreaExtra;
    }
    run_.neededSectors = static_cast<std::uint32_t>(bytes >> 9);
    return true;
  }

  // Sizes, checks and reads one image, adding its area's bytes to `bytes`.
  bool takeImage(const fs::path& path, text::TextId failed, std::uint64_t extra,
                 std::uint64_t& bytes, std::vector<std::uint8_t>& image) {
    // Sized before anything opens it: a device or a FIFO never ends, and a file is never read
    // before the memory check has passed it.
    std::error_code error;
    const auto status = fs::status(path, error);
    if (fs::exists(status) && !fs::is_regular_file(status))
      return refuse(text::kNotARegularFile, {path.string()});
    const std::uint64_t size = fs::file_size(path, error);
    if (path.empty() || error) return refuse(failed);
    if (size + extra > kLargestImageBytes) return refuse(text::kImageTooLarge, {path.string()});
    bytes += size + extra;
    if (!memoryAllows(bytes)) return refuse(text::kRamTooSmall);
    auto read = readImage(path, size);
    if (!read) return refuse(failed);
    image = std::move(*read);
    return true;
  }

  bool addCopyFileSizes() {
    if (!options_.copyFiles || options_.resetToDefault) return true;
    // Paths are made absolute here, once, against the station's folder, where the copy tool
    // runs: the entry checked is the entry copied, and no path can read as one of the tool's
    // options.
    const fs::path folder = platform_.system.executablePath().parent_path();
    const auto drop = [&](settings::CopyRow& row) {
      row.path.clear();
      row.chosen = false;
      return refuse(text::kCopyFileLoadFailed);
    };
    settings::CopyList& list = result_.copyList;
    std::uint64_t total = 0;
    for (settings::CopyRow& row : list.files) {
      if (!row.chosen) continue;
      if (!row.path.empty()) row.path = (folder / row.path).string();
      std::error_code error;
      const auto size = fs::file_size(row.path, error);
      if (error || !settings::readable(row.path)) return drop(row);
      total += static_cast<std::uint32_t>(size);
    }
    if (list.folder.chosen) {
      if (!list.folder.path.empty()) list.folder.path = (folder / list.folder.path).string();
      std::error_code error;
      if (!fs::is_directory(list.folder.path, error)) return drop(list.folder);
    }
    run_.neededSectors += static_cast<std::uint32_t>(total >> 9);
    return true;
  }

  const RunOptions& options_;
  platform::Platform& platform_;
  const SerialCounter& serials_;
  const std::uint64_t availableKiB_;
  PreparedRun run_;
  Preparation result_;
};

} // namespace

std::string refusalText(const Refusal& refusal, int languageOffset) {
  return text::localizedWith(refusal.text, languageOffset, refusal.arguments);
}

Preparation prepareRun(const RunOptions& options, platform::Platform& platform,
                       const SerialCounter& serials) {
  return Preparing(options, platform, serials).prepare();
}

} // namespace tarvix::run
