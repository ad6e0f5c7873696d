#include "run/prepare_run.h"

#include "run/serial_counter.h"
#include "settings/profile_file.h"
#include "settings/value_rules.h"
#include "text/texts.h"

#include <cerrno>
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

constexpr std::string_view kNoFileChosen = "no file is chosen";
constexpr std::string_view kReadEndedEarly = "the file ended before its size was read";

// "PATH: reason", the system's words for what went wrong; the reason alone without a path.
std::string because(const fs::path& path, std::string_view reason) {
  return path.empty() ? std::string(reason) : path.string() + ": " + std::string(reason);
}
std::string lastSystemError() { return std::error_code(errno, std::generic_category()).message(); }

// Exactly `size` bytes of `path`, read once into one allocation; nothing, with why, when it cannot.
std::optional<std::vector<std::uint8_t>> readImage(const fs::path& path, std::uint64_t size,
                                                   std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = lastSystemError();
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::uint64_t>(in.gcount()) != size) {
    why = kReadEndedEarly;
    return std::nullopt;
  }
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
  bool refuse(text::TextId text, std::vector<std::string> arguments = {}, std::string detail = {}) {
    result_.refusal = Refusal{text, std::move(arguments), std::move(detail)};
    return false;
  }

  bool cardTextsWritable() {
    // The label edit takes any character; FAT does not, and fsck.fat would call the volume
    // damaged.
    if (options_.format && !settings::fatLabelAsWritten(options_.diskLabel))
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
    if (path.empty()) return refuse(failed, {}, because(path, kNoFileChosen));
    if (error) return refuse(failed, {}, because(path, error.message()));
    if (size + extra > kLargestImageBytes) return refuse(text::kImageTooLarge, {path.string()});
    bytes += size + extra;
    if (!memoryAllows(bytes)) {
      return refuse(text::kRamTooSmall, {},
                    because(path, "needs " + std::to_string(bytes >> 20) + " MiB with the images " +
                                      "before it, " + std::to_string(availableKiB_ >> 10) +
                                      " MiB are free"));
    }
    std::string why;
    auto read = readImage(path, size, why);
    if (!read) return refuse(failed, {}, because(path, why));
    image = std::move(*read);
    return true;
  }

  bool addCopyFileSizes() {
    if (!options_.copyFiles || options_.resetToDefault) return true;
    // Paths are made absolute here, once, against the station's folder, where the copy tool
    // runs: the entry checked is the entry copied, and no path can read as one of the tool's
    // options.
    const fs::path folder = platform_.system.executablePath().parent_path();
    const auto drop = [&](settings::CopyRow& row, std::string_view why) {
      const std::string detail = because(row.path.empty() ? fs::path() : fs::path(row.path), why);
      row.path.clear();
      row.chosen = false;
      return refuse(text::kCopyFileLoadFailed, {}, detail);
    };
    settings::CopyList& list = result_.copyList;
    std::uint64_t total = 0;
    for (settings::CopyRow& row : list.files) {
      if (!row.chosen) continue;
      if (!row.path.empty()) row.path = (folder / row.path).string();
      if (row.path.empty()) return drop(row, kNoFileChosen);
      std::error_code error;
      const auto size = fs::file_size(row.path, error);
      if (error) return drop(row, error.message());
      if (!settings::readable(row.path)) return drop(row, lastSystemError());
      total += static_cast<std::uint32_t>(size);
    }
    if (list.folder.chosen) {
      if (!list.folder.path.empty()) list.folder.path = (folder / list.folder.path).string();
      std::error_code error;
      if (list.folder.path.empty()) return drop(list.folder, kNoFileChosen);
      if (!fs::is_directory(list.folder.path, error))
        return drop(list.folder, error ? error.message() : "not a folder");
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
