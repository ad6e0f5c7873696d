// What a step or a worker shows of its port: the slots' result lines and colours, the port's
// progress bar and status picture, the serial number edit and message boxes. Any thread; the
// window behind it carries the changes out on its own thread, always ending on the last value.
#pragma once

#include "station/records.h"

#include <string>

namespace tarvix::run {

class PortDisplay {
public:
  virtual ~PortDisplay() = default;

  virtual void showLine(int slot, const std::string& text) = 0;
  virtual void showColour(int slot, station::SlotColour colour) = 0;
  virtual void setProgressRange(int port, int low, int high) = 0;
  virtual void setProgress(int port, int position) = 0;
  virtual void showPicture(int port, int pictureId) = 0;
  // The serial number the next reader gets.
  virtual void showSerial(const std::string& serial) = 0;
  // A modal message box with a single OK button.
  virtual void messageBox(const std::string& text) = 0;
};

} // namespace tarvix::run
