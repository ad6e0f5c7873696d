// Sections and keys of the station's settings file (each option's default is in the option table).
// A file written from scratch has its sections in this order: Language, Hub Port map, Test Item,
// CardInfor, Copy File.
#pragma once

#include <string_view>

namespace tarvix::settings {

inline constexpr std::string_view kDefaultFileName = "TarvixValue.ini";

namespace section {
inline constexpr std::string_view kLanguage = "Language";
inline constexpr std::string_view kHubPortMap = "Hub Port map";
inline constexpr std::string_view kTestItem = "Test Item";
inline constexpr std::string_view kCardInfor = "CardInfor";
inline constexpr std::string_view kCopyFile = "Copy File";
inline constexpr std::string_view kLine = "Line";
} // namespace section

namespace key {
inline constexpr std::string_view kLan = "nLan";
inline constexpr std::string_view kCheckNoHub = "bCheckNOHub";
inline constexpr std::string_view kCheckHub = "bCheckHub";
inline constexpr std::string_view kIcType = "nICType";
inline constexpr std::string_view kCheckLowFormat = "bCheckLowFormat";
inline constexpr std::string_view kCheckCapacity = "bCheckCapacity";
inline constexpr std::string_view kLlfSelect = "nLLFSelect";
inline constexpr std::string_view kCheckFormat = "bCheckFormat";
inline constexpr std::string_view kLabel = "szLabel";
inline constexpr std::string_view kCheckRwTest = "bCheckRWTest";
inline constexpr std::string_view kRwTestCount = "nRWTestCount";
inline constexpr std::string_view kCheckCardInfor = "bCheckCardInforEnable";
inline constexpr std::string_view kCheckCopyFile = "bCheckCopyFile";
inline constexpr std::string_view kCheckAutorun = "bCheckAutorun";
inline constexpr std::string_view kIsoFilePath = "szISOFilePath";
inline constexpr std::string_view kCheckBinFile = "bCheckBinFile";
inline constexpr std::string_view kBinFilePath = "szBinFilePath";
inline constexpr std::string_view kVid = "szVID";
inline constexpr std::string_view kPid = "szPID";
inline constexpr std::string_view kVendor = "szVendor";
inline constexpr std::string_view kProduct = "szProduct";
inline constexpr std::string_view kSerialNum = "szSerialNum";
inline constexpr std::string_view kIncrease = "bIncrease";
inline constexpr std::string_view kDiskVendor = "szDiskVendor";
inline constexpr std::string_view kDiskProduct = "szDiskProduct";
inline constexpr std::string_view kCdromVendor = "szCDROMVendor";
inline constexpr std::string_view kCdromProduct = "szCDROMProduct";
inline constexpr std::string_view kMaxPower = "nMaxPower";
inline constexpr std::string_view kLedSpeed = "nLEDSpeed";
// The production line: its database (a libpq connection string or "service=NAME"), the serial
// series the station takes from, and the station's name in the line's records.
inline constexpr std::string_view kConnection = "szConnection";
inline constexpr std::string_view kSeries = "szSeries";
inline constexpr std::string_view kStation = "szStation";
} // namespace key

// The series a station on a production line takes from when [Line] names none.
inline constexpr std::string_view kDefaultSeries = "default";

} // namespace tarvix::settings
