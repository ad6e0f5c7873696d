// What a step shows, carried onto the window's controls: from a worker, the control operations
// queue the latest value of each control for the window thread, so the last one always shows. A
// slot's colour goes the same way as its text, so the two always show together.
#pragma once

#include "run/port_display.h"
#include "station/control_ids.h"
#include "station/controls.h"
#include "station/numbering.h"

namespace tarvix::app {

class WindowPortDisplay final : public run::PortDisplay {
public:
  explicit WindowPortDisplay(station::WindowControls& controls) : controls_(controls) {}

  void showLine(int slot, const std::string& text) override {
    controls_.setText(station::resultLineId(slot), text);
  }
  void showColour(int slot, station::SlotColour colour) override {
    controls_.setColour(station::resultLineId(slot), colour);
  }
  void setProgressRange(int port, int low, int high) override {
    controls_.setProgressRange(station::progressBarId(port), low, high);
  }
  void setProgress(int port, int position) override {
    controls_.setProgress(station::progressBarId(port), position);
  }
  void showPicture(int port, int pictureId) override {
    controls_.setPicture(station::statusPictureId(port), pictureId);
  }
  void showSerial(const std::string& serial) override {
    controls_.setText(station::id::kSerial, serial);
  }
  void messageBox(const std::string& text) override { controls_.messageBox(text); }

private:
  station::WindowControls& controls_;
};

} // namespace tarvix::app
