// The window's control operations as the scans, the run control and the workers use them.
// Every method may be called from any thread: a call from a worker is carried out on the window
// thread while the worker waits.
#pragma once

#include "station/records.h"

#include <string>

namespace tarvix::station {

enum class FontChoice { Default, ArialBlack10, ArialBlack16 };

class WindowControls {
public:
  virtual ~WindowControls() = default;

  virtual void setText(int id, const std::string& text) = 0;
  virtual std::string text(int id) const = 0;
  // The edit's text read as a signed decimal number (0 when it holds none).
  virtual int number(int id) const = 0;
  virtual bool checked(int id) const = 0;
  virtual void setChecked(int id, bool checked) = 0;
  virtual void enable(int id, bool enabled) = 0;
  virtual void show(int id, bool visible) = 0;
  virtual void setPicture(int id, int pictureId) = 0;
  virtual void setProgressRange(int id, int low, int high) = 0;
  virtual void setProgress(int id, int position) = 0;
  virtual void addRow(int id, const std::string& row) = 0;
  virtual int selectedRow(int id) const = 0; // -1: no selection
  virtual void setSelectedRow(int id, int row) = 0;
  virtual void setFont(int id, FontChoice font) = 0;
  // A result line's background: the state its slot is in.
  virtual void setColour(int id, SlotColour colour) = 0;
  // A modal message box with a single OK button.
  virtual void messageBox(const std::string& text) = 0;
};

} // namespace tarvix::station
