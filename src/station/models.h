// The controller models of the IC list, one row each, and everything that differs between them:
// their identity, how many LUNs a port start needs, how the low-level format sizes the card, where
// the identity is kept, which option groups the window shows and the edit limits they bring.
#pragma once

#include "text/text_ids.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvix::station {

// Which option groups a model shows, and the limits of its identity edits (0: unchanged).
struct ModelView {
  bool cardInformation = false;
  bool cdromInquiry = false;
  bool cdromImage = false;
  bool binaryImage = false;
  bool resetToDefault = false;
  bool ledAndPower = false;
  int manufacturerLimit = 0;
  int productLimit = 0;
  int serialLimit = 0;
  // Manufacturer and product texts past the limits are replaced by neutral ones when the model
  // is chosen.
  bool neutralWhenTooLong = false;
};

struct ModelTraits {
  std::string_view name;
  std::uint16_t productId;
  std::optional<std::uint8_t> modelNibble; // high nibble of 3Eh byte 4, where the probe checks it
  text::TextId mismatchText;               // what the probe shows for a reader of another model
  int lunsAtStart;                         // LUNs a port needs before it may start
  bool cardSized;                          // the low-level format is sized by the whole card
  bool eeprom;                             // the identity goes into the controller's EEPROM
  bool cdromLun; // LUN 2 is the card's CD-ROM area: the port start asks which LUN is which
  bool twoCards; // two card slots: a port starts only while both of its cards are there
  ModelView view;
};

inline constexpr ModelView kPlainView{};
inline constexpr ModelView kOneLunView{true, false, false, true, true, false, 9, 19, 12, true};

inline constexpr std::array<ModelTraits, 9> kModels = {{
    {"VQ301A", 0xA704, std::nullopt, text::kNotVq301a, 1, false, false, false, false, kPlainView},
    {"VQ301B", 0xA704, std::nullopt, text::kNotVq301b, 1, false, false, false, false, kPlainView},
    {"VQ301C", 0xA707, std::nullopt, text::kNotVq301c, 1, false, false, false, false, kPlainView},
    {"VQ301C-A-1LUN", 0xA706, 0x0, text::kNotVq301cA1Lun, 1, true, false, false, false,
     kOneLunView},
    {"VQ301C-A-2LUN",
     0xA706,
     0x1,
     text::kNotVq301cA2Lun,
     2,
     true,
     false,
     true,
     false,
     {true, true, true, true, true, false, 9, 19, 12, true}},
    {"VQ305A", 0xA701, std::nullopt, text::kNotVq305a, 1, false, false, false, false, kPlainView},
    {"VQ307B2B-1LUN", 0xA703, std::nullopt, text::kNotVq307OneLun, 1, false, false, false, false,
     kPlainView},
    {"VQ307B2B-2LUN", 0xA702, std::nullopt, text::kNotVq307TwoLun, 2, false, false, false, true,
     kPlainView},
    {"VQ348",
     0xA708,
     std::nullopt,
     text::kNotVq348,
     1,
     false,
     true,
     false,
     false,
     {true, false, false, false, true, true, 12, 23, 12}},
}};

inline constexpr int kModelCount = static_cast<int>(kModels.size());

// The row's traits; nothing for a row outside the list (no selection).
constexpr const ModelTraits* modelTraits(int row) {
  return row >= 0 && row < kModelCount ? &kModels[static_cast<std::size_t>(row)] : nullptr;
}

} // namespace tarvix::station
