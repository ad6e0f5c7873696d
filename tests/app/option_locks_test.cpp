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
  std::map<int, bool> expected; // controls absent from the map must be absent from the result
  std::set<int> absent;
};

class OptionLocks : public ::testing::TestWithParam<LockCase> {};

TEST_P(OptionLocks, FollowTheBoxesTheResetAndTheRun) {
  const LockCase& c = GetParam();
  std::map<int, bool> states;
  for (const auto& [control, on] :
       optionStates(c.moment, [&](int box) { return c.checked.contains(box); }))
    states[control] = on;
  for (const auto& [control, on] : c.expected) {
    ASSERT_TRUE(states.contains(control)) << control;
    EXPECT_EQ(states[control], on) << control;
  }
  for (int control : c.absent)
    EXPECT_FALSE(states.contains(control)) << control;
}

const LockCase kCases[] = {
    {"StepControlsFollowTheirBoxes",
     OptionMoment::OptionChanged,
     {id::kLlf, id::kCdromIso},
     {{id::kLlfExtent, true},
      {id::kDiskLabel, false},
      {id::kReadWriteCount, false},
      {id::kLoadIso, true},
      {id::kIsoPath, true},
      {id::kLoadBinary, false},
      {id::kVid, false},
      {id::kLedSpeed, false},
      {id::kLlf, true},
      {id::kIcType, true}},
     // What only a run locks is not the option handlers' to give back (no mapping mode yet).
     {id::kAutoStart, id::kLanguage, id::kResetToDefault}},
    {"ResetLocksTheProductionSteps",
     OptionMoment::OptionChanged,
     {id::kResetToDefault, id::kLlf, id::kFormat, id::kCdromIso, id::kReadWriteTest},
     {{id::kLlf, false},
      {id::kCapacityCheck, false},
      {id::kLlfExtent, false},
      {id::kFormat, false},
      {id::kDiskLabel, false},
      {id::kReadWriteCount, false},
      {id::kLoadIso, false},
      {id::kIcType, false},
      {id::kLoadIni, false},
      // The path edit stays as its box says unless Write parameter is checked too.
      {id::kIsoPath, true}},
     {}},
    {"ResetWithWriteParameterLocksTheImagePaths",
     OptionMoment::OptionChanged,
     {id::kResetToDefault, id::kWriteParameter, id::kCdromIso, id::kBinaryFile},
     {{id::kIsoPath, false}, {id::kBinaryPath, false}, {id::kVid, false}, {id::kMaxPower, false}},
     {}},
    {"ARunLocksTheWholeOptionArea",
     OptionMoment::RunStarts,
     {id::kLlf, id::kWriteParameter},
     {{id::kAutoStart, false},
      {id::kLanguage, false},
      {id::kResetToDefault, false},
      {id::kLlf, false},
      {id::kCapacityCheck, false},
      {id::kLlfExtent, false},
      {id::kVid, false},
      {id::kPowerMa, false}},
     {}},
    {"TheRunsEndGivesItBackAsTheBoxesSay",
     OptionMoment::RunEnds,
     {id::kFormat, id::kWriteParameter},
     {{id::kAutoStart, true},
      {id::kLanguage, true},
      {id::kResetToDefault, true},
      {id::kDiskLabel, true},
      {id::kLlfExtent, false},
      {id::kVid, true},
      {id::kCdromProduct, true}},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Table, OptionLocks, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tarvix::app
