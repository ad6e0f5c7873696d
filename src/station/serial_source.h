// Where a station's serial numbers come from when they are not its own counter's: a series shared
// by the stations of a production line. Set before a run is prepared and kept until the station
// closes; its owner outlives the workers.
#pragma once

#include <optional>
#include <string>

namespace tarvix::station {

class SerialSource {
public:
  virtual ~SerialSource() = default;
  // Whether serial numbers can be taken now; `why` in the operator's words when not. Called on
  // the window thread before a run that writes serial numbers starts.
  virtual bool ready(std::string& why) = 0;
  // The next number for the reader in port `port`, recorded against this station and port before
  // it is returned; nothing, with `why`, when none could be taken. Any worker thread, at once.
  virtual std::optional<std::string> take(int port, std::string& why) = 0;
};

} // namespace tarvix::station
