// The texts the code names, by their ids in the text tables. A window label or step text is named
// by its English id; the shown text is that id plus the language's offset (see localized).
#pragma once

namespace tarvix::text {

enum TextId : int {
  // Language-independent texts.
  kAboutItem = 101,
  kIsoLoaded = 102,
  kBinaryLoaded = 103,
  kIsoLoadFailed = 104,
  kBinaryLoadFailed = 105,
  kRamTooSmall = 106,
  kFileSelectedBefore = 107,
  kCopyFileLoadFailed = 108,
  kLanguageEnglish = 109,
  kLanguageSimplified = 110,
  kLanguageTraditional = 111,
  kSettingsLoaded = 131,
  kSettingsSaved = 132,

  // Window labels.
  kCardInformationGroup = 5013,
  kWriteParameterToCard = 5014,
  kWriteParameterToEeprom = 5043,

  // Result lines of the steps.
  kFormatPassed = 5044,
  kFormatFailed = 5045,
  kLowLevelFormatFailed = 5046,
  kLowLevelFormatPassed = 5047,
  kFile1Written = 5048,
  kFile2Written = 5049,
  kFile3Written = 5050,
  kFile4Written = 5051,
  kFile5Written = 5052,
  kFile6Written = 5055,
  kFolderWritten = 5056,
  kReadWriteFailed = 5057,
  kReadWritePassed = 5058,
  kEepromFailed = 5059,
  kEepromPassed = 5060,
  kStartTest = 5061,
  kCardTooSmall = 5062,
  kBinaryFailed = 5063,
  kBinaryPassed = 5064,
  kIsoFailed = 5065,
  kIsoPassed = 5066,
  kInformationFailed = 5067,
  kInformationPassed = 5068,

  // What the probe shows of a reader it refuses.
  kNoCard = 5069,
  kNotVq305a = 5070,
  kNotVq301cA1Lun = 5071,
  kNotVq301cA2Lun = 5072,
  kNotVq307TwoLun = 5073,
  kNotVq307OneLun = 5074,
  kNotVq301a = 5075,
  kNotVq301b = 5076,
  kNotVq301c = 5077,
  kTooManyCards = 5078,
  kNotVq348 = 5079,
  kNotMakerDevice = 5080,

  // Added after the shipped tables, above their ids so that neither range moves.
  kCapacityCheckLabel = 5100,
  kFakeCardRealSize = 5101, // "%d": the real size in MiB
  kCapacityCheckFailed = 5102,
  kReInitialCardFailed = 5103, // the card did not take the area sizes
  // Why a run cannot start; "%s" is what the operator typed or chose.
  kLabelNotFat = 5110,
  kSerialTooLong = 5111,
  kNotARegularFile = 5112,
  kImageTooLarge = 5113,
  // The production line: "%s" says why it gives no serial number.
  kLineGivesNoSerials = 5114, // a run that writes serial numbers is refused
  kLineGaveNoSerial = 5115,   // a card of a run under way fails
};

} // namespace tarvix::text
