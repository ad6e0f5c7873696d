// The kernel stage's judge, on the host side of the guest: lays out a run's settings and files,
// and afterwards judges the run by its report, its exit code and the cards themselves, read from
// the device server's images with the pass oracle's independent reading (e2e/card_reading.h).
//
//   kernel_stage_judge lay DIR STEPS
//   kernel_stage_judge check DIR STEPS REPORT EXIT IMAGES PORT=ID:VERDICT...
//
// STEPS is a comma-separated list: model=NAME, and any of nohubmap, llf, rw=N, cardinfo, copy,
// bin, iso, capacity, label=TEXT; scanonly for a scan. A VERDICT is pass (the box shows pass and
// the card verifies), pulled (the reader went away: blank box, recorded as pulled), refused (in a
// box, never started), forged=N (failed the capacity check with N MiB real) or fail; pulled=STEP
// and fail=STEP name the step it happened in, the last of the record's steps. Ports not named
// must hold no reader. Prints what is wrong, one line each; exits 0 when nothing is.
#include "e2e/card_reading.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace tarvix::testing;

// What the runs copy: a file and a folder, as the pass oracle copies them.
const std::pair<std::string, std::string> kFile{"hello.txt", "on every card, through a kernel\n"};
const std::pair<std::string, std::string> kFolderFile{"inner.txt", "inside the folder\n"};
constexpr std::size_t kBinBytes = 70000;
constexpr std::size_t kIsoBytes = 100000;

std::string pattern(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

const ReaderKind* kindNamed(std::string_view model) {
  for (const ReaderKind& kind : kReaderKinds) {
    if (model == kind.model) return &kind;
  }
  return nullptr;
}

struct Plan {
  const ReaderKind* kind = nullptr;
  RunSteps steps;
  bool scanOnly = false; // a scan exits 0 whatever it found
};

bool parseSteps(const std::string& text, Plan& plan, std::string& error) {
  plan.steps.binImage = pattern(kBinBytes, 1);
  plan.steps.isoImage = pattern(kIsoBytes, 2);
  std::istringstream items(text);
  for (std::string item; std::getline(items, item, ',');) {
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    RunSteps& s = plan.steps;
    if (key == "model") {
      plan.kind = kindNamed(value);
      if (plan.kind == nullptr) return error = "no model " + value, false;
      s.icType = plan.kind->icType;
    } else if (key == "nohubmap") {
      s.hubMap = false;
    } else if (key == "llf") {
      s.llf = true;
      s.llfSelect = 1;
    } else if (key == "rw") {
      s.rwTest = true;
      s.rwCount = std::stoi(value);
    } else if (key == "cardinfo") {
      s.cardInfo = true;
    } else if (key == "copy") {
      s.copy = true;
    } else if (key == "bin") {
      s.bin = true;
    } else if (key == "iso") {
      s.iso = true;
    } else if (key == "capacity") {
      s.capacity = true;
    } else if (key == "scanonly") {
      plan.scanOnly = true;
    } else if (key == "label") {
      s.label = value;
    } else {
      return error = "unknown step " + item, false;
    }
  }
  if (plan.kind == nullptr) return error = "no model named", false;
  return true;
}

void lay(const fs::path& dir, const Plan& plan) {
  writeFile(dir / "TarvixValue.ini", settingsText(plan.steps, dir));
  writeFile(dir / "image.bin", plan.steps.binImage);
  writeFile(dir / "image.iso", plan.steps.isoImage);
  writeFile(dir / kFile.first, kFile.second);
  writeFile(dir / "Docs" / kFolderFile.first, kFolderFile.second);
}

struct Expected {
  std::string reader;
  std::string verdict;
};

// Everything wrong with port `n` of the report against what was expected of it.
std::vector<std::string> judgePort(const nlohmann::json& port, const Expected* expected,
                                   const Plan& plan, const fs::path& images,
                                   const fs::path& scratch) {
  std::vector<std::string> problems;
  const bool holds = port.value("holdsReader", false);
  const std::string picture = port.value("picture", "");
  const nlohmann::json production = port.value("production", nlohmann::json::object());
  const std::string result = production.value("result", "");
  if (expected == nullptr) {
    if (holds) problems.push_back("holds a reader none was expected at");
    return problems;
  }
  const std::size_t eq = expected->verdict.find('=');
  const std::string verdict = expected->verdict.substr(0, eq);
  const std::string argument = eq == std::string::npos ? "" : expected->verdict.substr(eq + 1);
  const nlohmann::json steps = production.value("steps", nlohmann::json::array());
  const std::string lastStep = steps.empty() ? "" : steps.back().value("step", "");
  const bool inStep = argument.empty() || lastStep == argument;
  auto want = [&](bool ok, const std::string& what) {
    if (!ok) problems.push_back(what);
  };
  const std::string shown = "picture " + picture + ", result \"" + result + "\", text \"" +
                            port["slots"][0].value("text", "") + "\", last step \"" + lastStep +
                            "\"";
  const std::string during = argument.empty() ? "" : " in step \"" + argument + "\"";
  if (!argument.empty() && (verdict == "pass" || verdict == "refused")) {
    problems.push_back("unknown verdict " + expected->verdict);
  } else if (verdict == "pass") {
    want(picture == "pass" && result == "pass", "not passed: " + shown);
    PreparedCard card = expectedCard(
        *plan.kind, plan.steps,
        {{"/" + kFile.first, kFile.second}, {"/Docs/" + kFolderFile.first, kFolderFile.second}});
    card.image = images / (expected->reader + ".img");
    if (plan.kind->twoCards) card.secondCard = images / (expected->reader + "-2.img");
    if (plan.kind->eeprom) card.eeprom = images / (expected->reader + ".eeprom");
    const fs::path own = scratch / expected->reader;
    fs::create_directories(own);
    for (const std::string& problem : readBack(card, own))
      problems.push_back(expected->reader + ": " + problem);
  } else if (verdict == "pulled") {
    want(picture == "blank" && result == "pulled" && inStep,
         "not shown as pulled" + during + ": " + shown);
  } else if (verdict == "refused") {
    want(holds && !port.value("started", true), "not refused: " + shown);
  } else if (verdict == "forged") {
    const nlohmann::json& slot = port["slots"][0];
    want(picture == "fail" && slot.value("capacityCheck", "") == "forged" &&
             std::to_string(slot.value("realMiB", 0)) == argument,
         "not failed as forged with " + argument + " MiB real: " + shown + ", " + slot.dump());
  } else if (verdict == "fail") {
    want(picture == "fail" && inStep, "not failed" + during + ": " + shown);
  } else {
    problems.push_back("unknown verdict " + expected->verdict);
  }
  return problems;
}

int check(const fs::path& dir, const Plan& plan, const fs::path& reportFile, int exitCode,
          const fs::path& images, const std::map<int, Expected>& expected) {
  std::vector<std::string> problems;
  nlohmann::json report;
  try {
    report = nlohmann::json::parse(std::ifstream(reportFile));
  } catch (const std::exception& e) {
    std::cout << "report " << reportFile.string() << ": " << e.what() << "\n";
    return 1;
  }
  bool allPass = !expected.empty() || plan.scanOnly;
  for (const auto& [n, e] : expected)
    allPass = allPass && (e.verdict == "pass" || plan.scanOnly);
  if ((exitCode == 0) != allPass)
    problems.push_back("exit code " + std::to_string(exitCode) + " for " +
                       (allPass ? "a run that should pass" : "a run with readers that did not"));
  const fs::path scratch = dir / "readback";
  fs::create_directories(scratch);
  for (const nlohmann::json& port : report["ports"]) {
    const int n = port.value("port", 0);
    const auto it = expected.find(n);
    for (const std::string& problem :
         judgePort(port, it == expected.end() ? nullptr : &it->second, plan, images, scratch))
      problems.push_back("port " + std::to_string(n) + ": " + problem);
  }
  for (const std::string& problem : problems)
    std::cout << problem << "\n";
  return problems.empty() ? 0 : 1;
}

int usage() {
  std::cerr << "usage: kernel_stage_judge lay DIR STEPS\n"
               "       kernel_stage_judge check DIR STEPS REPORT EXIT IMAGES PORT=ID:VERDICT...\n";
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const std::string_view command = argv[1];
  const fs::path dir = argv[2];
  Plan plan;
  std::string error;
  if (!parseSteps(argv[3], plan, error)) {
    std::cerr << "kernel_stage_judge: " << error << "\n";
    return 2;
  }
  if (command == "lay" && argc == 4) {
    lay(dir, plan);
    return 0;
  }
  if (command != "check" || argc < 7) return usage();
  std::map<int, Expected> expected;
  for (int i = 7; i < argc; ++i) {
    const std::string item = argv[i];
    const std::size_t eq = item.find('='), colon = item.find(':');
    if (eq == std::string::npos || colon == std::string::npos || colon < eq) return usage();
    expected[std::stoi(item.substr(0, eq))] = {item.substr(eq + 1, colon - eq - 1),
                                               item.substr(colon + 1)};
  }
  return check(dir, plan, argv[4], std::stoi(argv[5]), argv[6], expected);
}
