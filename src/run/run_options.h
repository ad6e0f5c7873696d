// What one run does, read from the window's controls (or the settings file) once when the run is
// prepared, before any worker starts, and read-only for the workers while they run: a step never
// reads a window control.
#pragma once

#include "settings/copy_list.h"

#include <filesystem>
#include <string>

namespace tarvix::run {

// The card information as typed (UTF-8). An empty text stands for the layout's own default.
struct CardParameters {
  std::string vid;
  std::string pid;
  std::string manufacturer;
  std::string product;
  std::string serial; // the serial number this reader gets; empty in the run's options
  std::string diskVendor;
  std::string diskProduct;
  std::string cdromVendor;
  std::string cdromProduct;
  bool maxPowerGiven = false; // the max power edit holds any text
  int maxPowerValue = 0;      // units of 2 mA; its low byte is stored
  int ledSpeedRow = -1;       // -1: no row selected
};

struct RunOptions {
  int icType = 0; // controller model row
  bool resetToDefault = false;
  bool capacityCheck = false;
  bool lowLevelFormat = false;
  int llfSelect = 0; // extent row
  bool format = false;
  std::string diskLabel;
  bool readWriteTest = false;
  int rwTestCount = 0;
  bool writeParameter = false; // card information, or the EEPROM on the EEPROM model
  bool increaseSerial = false;
  std::string serialStart; // the serial number the run starts from, filled to twelve digits
  CardParameters card;
  bool cdromArea = false;
  std::filesystem::path isoPath;
  bool binaryArea = false;
  std::filesystem::path binPath;
  bool copyFiles = false;
  settings::CopyList copyList;
};

} // namespace tarvix::run
