#include "app/fitting_texts.h"

#include "station/control_ids.h"
#include "text/text_ids.h"
#include "text/texts.h"

#include <string_view>

namespace tarvix::app {
namespace {

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kHexLetters = "ABCDEF";
constexpr std::string_view kCapitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr int kLanguageOffsets[] = {text::kEnglish, text::kSimplifiedChinese,
                                    text::kTraditionalChinese};

// The widest characters an edit's rule lets through, each as one UTF-8 string. Text edits get
// Latin digits and capitals: the card keeps one byte per character of its identity texts, and a
// volume label's eleven bytes hold at most five ideographs, narrower than eleven capitals.
std::vector<std::string> characters(EditRule rule) {
  std::vector<std::string> out;
  auto add = [&](std::string_view set) {
    for (char c : set)
      out.emplace_back(1, c);
  };
  add(kDigits);
  if (rule == EditRule::HexDigits) add(kHexLetters);
  if (rule == EditRule::UpperCase || rule == EditRule::Any) add(kCapitals);
  return out;
}

std::string repeated(const std::string& character, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += character;
  return out;
}

void addLabel(std::vector<std::string>& out, int englishId) {
  for (int offset : kLanguageOffsets) {
    if (auto label = text::lookup(text::localizedId(englishId, offset))) out.emplace_back(*label);
  }
}

} // namespace

std::vector<std::string> textsShownWhole(const ControlRecord& r) {
  std::vector<std::string> out;
  switch (r.kind) {
  case ControlKind::Label:
  case ControlKind::CheckBox:
  case ControlKind::PushButton:
  case ControlKind::GroupBox:
    out.push_back(r.text);
    if (r.textId != 0) addLabel(out, r.textId);
    if (r.id == station::id::kWriteParameter) addLabel(out, text::kWriteParameterToEeprom);
    // The max-power handler shows twice the typed number: up to four digits.
    if (r.id == station::id::kPowerMa) {
      for (char digit : kDigits)
        out.push_back("(" + std::string(4, digit) + " mA)");
    }
    break;
  case ControlKind::DropDown: out = r.rows; break;
  case ControlKind::Edit:
    if (r.readOnly || r.textLimit == 0) break;
    for (const std::string& character : characters(r.rule))
      out.push_back(repeated(character, r.textLimit));
    break;
  case ControlKind::ResultLine:
  case ControlKind::Picture:
  case ControlKind::ProgressBar: break;
  }
  return out;
}

} // namespace tarvix::app
