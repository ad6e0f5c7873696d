// The option locks against the rules of the option area: a step's controls are usable only while
// its box is checked, Reset to Default Value locks the production steps' options, and a run locks
// the whole option area and gives it back as the boxes say.
#include "app/option_locks.h"
#include "station/control_ids.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace tarvix::app {
namespace {

namespace id = station::id;

struct LockCase {
  const char* name;
  OptionMoment moment;
  std::set<int> checked;
  std::set<int> on, off; // usable and locked; the rest of the option area may be either
  std::set<int> absent;  // not the moment's to set at all
};

class OptionLocks : public ::testing::TestWithParam<LockCase> {};

TEST_P(OptionLocks, FollowTheBoxesTheResetAndTheRun) {
  const LockCase& c = GetParam();
  std::map<int, bool> states;
  for (const auto& [control, on] :
       optionStates(c.moment, [&](int box) { return c.checked.contains(box); }))
    states[control] = on;
  for (const auto& [controls, on] : {std::pair{c.on, true}, std::pair{c.off, false}}) {
    for (int control : controls) {
      ASSERT_TRUE(states.contains(control)) << control;
      EXPECT_EQ(states[control], on) << control;
    }
  }
  for (int control : c.absent)
    EXPECT_FALSE(states.contains(control)) << control;
}

const LockCase kCases[] = {
    // What only a run locks is not the option handlers' to give back (no mapping mode yet).
    {"StepControlsFollowTheirBoxes",
     OptionMoment::OptionChanged,
     {id::kLlf, id::kCdromIso},
     {id::kLlfExtent, id::kLoadIso, id::kIsoPath, id::kLlf, id::kIcType},
     {id::kDiskLabel, id::kReadWriteCount, id::kLoadBinary, id::kVid, id::kLedSpeed},
     {id::kAutoStart, id::kLanguage, id::kResetToDefault}},
    // The path edit stays as its box says unless Write parameter is checked too.
    {"ResetLocksTheProductionSteps",
     OptionMoment::OptionChanged,
     {id::kResetToDefault, id::kLlf, id::kFormat, id::kCdromIso, id::kReadWriteTest},
     {id::kIsoPath},
     {id::kLlf, id::kCapacityCheck, id::kLlfExtent, id::kFormat, id::kDiskLabel,
      id::kReadWriteCount, id::kLoadIso, id::kIcType, id::kLoadIni},
     {}},
    {"ResetWithWriteParameterLocksTheImagePaths",
     OptionMoment::OptionChanged,
     {id::kResetToDefault, id::kWriteParameter, id::kCdromIso, id::kBinaryFile},
     {},
     {id::kIsoPath, id::kBinaryPath, id::kVid, id::kMaxPower},
     {}},
    {"ARunLocksTheWholeOptionArea",
     OptionMoment::RunStarts,
     {id::kLlf, id::kWriteParameter},
     {},
     {id::kAutoStart, id::kLanguage, id::kResetToDefault, id::kLlf, id::kCapacityCheck,
      id::kLlfExtent, id::kVid, id::kPowerMa},
     {}},
    {"TheRunsEndGivesItBackAsTheBoxesSay",
     OptionMoment::RunEnds,
     {id::kFormat, id::kWriteParameter},
     {id::kAutoStart, id::kLanguage, id::kResetToDefault, id::kDiskLabel, id::kVid,
      id::kCdromProduct},
     {id::kLlfExtent},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Table, OptionLocks, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tarvix::app
