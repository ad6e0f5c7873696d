#include "run/port_outcome.h"

namespace tarvix::run {

text::PictureRole resultPicture(log::PortResult result) {
  switch (result) {
  case log::PortResult::Pass: return text::PictureRole::Pass;
  case log::PortResult::Fail: return text::PictureRole::Fail;
  case log::PortResult::DefaultPass: return text::PictureRole::DefaultPass;
  case log::PortResult::ResetFail: return text::PictureRole::ResetFail;
  case log::PortResult::Pulled: return text::PictureRole::Blank;
  }
  return text::PictureRole::Fail;
}

std::string capacityCheckText(const PortOutcome& outcome) {
  std::string verdicts;
  for (const CapacityCheckResult& check : outcome.capacityChecks) {
    std::string verdict;
    switch (check.verdict) {
    case station::CapacityVerdict::NotChecked: continue;
    case station::CapacityVerdict::Genuine: verdict = "genuine"; break;
    case station::CapacityVerdict::Unfinished: verdict = "unfinished"; break;
    case station::CapacityVerdict::Forged:
      verdict = "forged: real " + std::to_string(check.realMiB) + " MiB";
      break;
    }
    verdicts += (verdicts.empty() ? "" : "; ") + verdict;
  }
  return verdicts;
}

} // namespace tarvix::run
