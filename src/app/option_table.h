// Every control of the option area, once: its id, kind and label, where it sits in the window's
// grid, how a run and the step boxes lock it, which model shows it, how the settings file keeps it
// and which field of a run's options it sets. The control records, the option locks, the model's
// groups, the settings binding, the run's options and both front ends' grids are read from it, so
// a new option is one row here (and the step that uses it, and its texts).
#pragma once

#include "app/control.h"
#include "run/run_options.h"

#include <span>
#include <string_view>

namespace tarvix::app {

// The parts of the option area a front end lays out: a bar along the top and four framed grids.
enum class Area { None, TopBar, GeneralTest, CardInformation, BinaryImage, CdromImage };

struct GridCell {
  Area area = Area::None;
  int row = 0;
  int column = 0;
  int span = 1;
  bool stretch = false; // takes what the row leaves over (the top bar has one)
};

// How Reset to Default Value locks a control.
enum class ResetLock {
  None,
  Always,
  // Only while Write parameter is checked too: the image path edits stay as their own box says.
  WithWriteParameter,
};

struct OptionLock {
  bool run = false;                  // disabled while a run goes on
  ResetLock reset = ResetLock::None; // disabled while Reset to Default Value is checked
  int enabledBy = 0;                 // usable only while this step box is checked; 0: none
};

// Which of the controller model's option groups shows the control (station::ModelView).
enum class ModelGroup {
  Always,
  CardInformation,
  CdromInquiry,
  CdromImage,
  BinaryImage,
  LedAndPower,
  ResetToDefault
};

// How the settings file keeps a control's value, and what a stored value may be.
enum class Stored {
  None,
  Check,        // 0 or 1
  MappingCheck, // one of the two mapping boxes: a file that names neither keeps the mode in force
  Row,          // a drop-down's row, 0 to `high`
  Text,         // at most `high` characters, as `allowed` lets through
  Path,         // a file, dropped when it cannot be read
  Number,       // 0 to `high`, shown as text in its edit
  Language,     // the language number nLan, 0 (none) to `high`
};
enum class Allowed { Any, Digits, HexDigits, FatLabel };

struct Setting {
  std::string_view section = {};
  std::string_view key = {};
  Stored kind = Stored::None;
  std::string_view fallbackText = {};
  int fallbackNumber = 0;
  int high = 0;
  Allowed allowed = Allowed::Any;
};

// Sets the control's part of a run's options from its record.
using RunField = void (*)(run::RunOptions& options, const ControlRecord& control);

struct OptionSpec {
  int id;
  ControlKind kind;
  std::string_view text; // as the window is created
  int textId;            // relabels it in a language; 0: a fixed text
  GridCell cell;
  OptionLock lock = {};
  ModelGroup group = ModelGroup::Always;
  Setting setting = {};
  RunField field = nullptr;
  EditRule rule = EditRule::Any;
  int textLimit = 0; // characters the operator may type; 0: no limit
  bool readOnly = false;
};

// The option area, stored controls first in the order the settings file lists them.
std::span<const OptionSpec> optionTable();
// The group box that frames `area`; 0 for the top bar.
int areaFrame(Area area);
// An edit's text read as a signed decimal number, 0 when it holds none.
int editNumber(const std::string& text);

} // namespace tarvix::app
