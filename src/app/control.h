// One record per control of the station window: everything a front end needs to draw it and
// everything the station's logic reads back. The records are the window's only state for
// controls; a front end holds none of its own.
#pragma once

#include "station/control_ids.h"
#include "station/controls.h"

#include <string>
#include <vector>

namespace tarvix::app {

namespace id = station::id;

enum class ControlKind {
  PushButton,
  CheckBox,
  Label,
  GroupBox,
  DropDown,
  Edit,       // single line, typed by the operator unless read-only
  ResultLine, // multi-line read-only text of a slot
  Picture,
  ProgressBar,
};

// What the operator may type into an edit.
enum class EditRule { Any, Digits, UpperCase, HexDigits };
// Digits of the read/write test count: enough rounds for any card, and a test that ends.
inline constexpr int kReadWriteCountDigits = 4;

struct ControlRecord {
  int id = 0;
  ControlKind kind = ControlKind::Label;
  std::string text;
  int textId = 0; // English text id that relabels it when a language is applied; 0 = fixed text
  bool enabled = true;
  bool visible = true;
  bool checked = false;
  bool readOnly = false;
  bool sorted = false; // drop-down rows kept in sorted order
  int textLimit = 0;   // characters the operator may type; 0 = no limit
  EditRule rule = EditRule::Any;
  std::vector<std::string> rows;
  int selectedRow = -1;
  int picture = 0;
  int rangeLow = 0;
  int rangeHigh = 100;
  int position = 0;
  station::FontChoice font = station::FontChoice::Default;
  station::SlotColour colour = station::SlotColour::Idle; // a result line's background

  bool operator==(const ControlRecord&) const = default;
};

} // namespace tarvix::app
