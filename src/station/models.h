// Rows of the controller model list whose behaviour differs from the others.
#pragma once

namespace tarvix::station {

inline constexpr int kModelCount = 9;
inline constexpr int kTwoLunModelRow = 4;  // VQ301C-A-2LUN: a card LUN and a CD-ROM LUN
inline constexpr int kTwoCardModelRow = 7; // VQ307B2B-2LUN: two card slots
inline constexpr int kEepromModelRow = 8;  // VQ348: parameters in the controller's EEPROM

} // namespace tarvix::station
