// A run prepared once, before any port starts, from its frozen options: the images read into
// memory under the memory check, the room a card must offer, the copy list's paths made absolute
// and checked, the label and the serial number checked as a card can hold them, and on a
// production line the line asked whether it can give serial numbers. Preparing reads no control
// and shows nothing: a refusal names the text that tells the operator why, and the window shows
// it, or the headless run prints it. Besides reading files and asking the line it only names the
// card's reader identity to the system (the registry on Windows). The window thread.
#pragma once

#include "platform/platform.h"
#include "run/run_options.h"
#include "settings/copy_list.h"
#include "text/text_ids.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvix::run {

// Why a run cannot start: an English text id and what fills its "%s" fields, in order.
struct Refusal {
  text::TextId text;
  std::vector<std::string> arguments;

  bool operator==(const Refusal&) const = default;
};
// The refusal as the operator reads it, in the language of `languageOffset`.
std::string refusalText(const Refusal& refusal, int languageOffset);

// The images a run writes, read once; workers only read them.
struct LoadedImages {
  std::vector<std::uint8_t> iso;
  std::vector<std::uint8_t> binary;
  std::uint32_t isoSize = 0;
  std::uint32_t binSize = 0;
  std::uint32_t binAreaSize = 0; // binSize and its header sector
};

struct PreparedRun {
  RunOptions options; // the copy list's paths made absolute
  LoadedImages images;
  std::uint32_t neededSectors = 0; // what a card must offer beyond the reserve
};

struct Preparation {
  std::optional<PreparedRun> run; // when nothing refuses it
  std::optional<Refusal> refusal; // otherwise, what does
  // The copy list as the preparation left it, whether or not the run may start: checked paths
  // made absolute, a row it refused dropped. The station keeps it, and saves it so.
  settings::CopyList copyList;
};

class SerialCounter;

// `serials` is the series the run's workers will take from.
Preparation prepareRun(const RunOptions& options, platform::Platform& platform,
                       const SerialCounter& serials);

} // namespace tarvix::run
