// Ids of the option-area controls of the station window. The port grid's ids derive from the
// port and slot numbers (station/numbering.h).
#pragma once

namespace tarvix::station::id {

inline constexpr int kNoHubMap = 1107;
inline constexpr int kHubMap = 1103;
inline constexpr int kAutoStart = 1004;
inline constexpr int kAutoStop = 1005;
inline constexpr int kLoadIni = 1001;
inline constexpr int kSaveIni = 1003;
inline constexpr int kIcLabel = 1281;
inline constexpr int kIcType = 1113;
inline constexpr int kSettingsPath = 1122;
inline constexpr int kGeneralTestGroup = 1277;
inline constexpr int kLlf = 1106;
inline constexpr int kLlfExtent = 1116;
inline constexpr int kFormat = 1102;
inline constexpr int kDiskLabelLabel = 1283;
inline constexpr int kDiskLabel = 1216;
inline constexpr int kReadWriteTest = 1110;
inline constexpr int kReadWriteCount = 1220;
inline constexpr int kCopyFile = 1093;
inline constexpr int kCardInfoGroup = 1247;
inline constexpr int kWriteParameter = 1092;
inline constexpr int kVidLabel = 1314;
inline constexpr int kVid = 1224;
inline constexpr int kPidLabel = 1289;
inline constexpr int kPid = 1218;
inline constexpr int kManufacturerLabel = 1313;
inline constexpr int kManufacturer = 1223;
inline constexpr int kProductLabel = 1290;
inline constexpr int kProduct = 1219;
inline constexpr int kSerialLabel = 1291;
inline constexpr int kSerial = 1221;
inline constexpr int kIncrease = 1105;
inline constexpr int kDiskInquiryLabel = 1273;
inline constexpr int kDiskVendorLabel = 1275;
inline constexpr int kDiskVendor = 1121;
inline constexpr int kDiskProductLabel = 1274;
inline constexpr int kDiskProduct = 1120;
inline constexpr int kCdromInquiryLabel = 1249;
inline constexpr int kCdromVendorLabel = 1251;
inline constexpr int kCdromVendor = 1119;
inline constexpr int kCdromProductLabel = 1250;
inline constexpr int kCdromProduct = 1118;
inline constexpr int kLedSpeedLabel = 1285;
inline constexpr int kLedSpeed = 1115;
inline constexpr int kMaxPowerLabel = 1288;
inline constexpr int kMaxPower = 1217;
inline constexpr int kPowerMa = 1287;
inline constexpr int kBinaryGroup = 1246;
inline constexpr int kBinaryFile = 1091;
inline constexpr int kLoadBinary = 1000;
inline constexpr int kBinaryPath = 1117;
inline constexpr int kCdromGroup = 1248;
inline constexpr int kCdromIso = 1090;
inline constexpr int kLoadIso = 1002;
inline constexpr int kIsoPath = 1215;
inline constexpr int kResetToDefault = 1094;
inline constexpr int kLanguageLabel = 1284;
inline constexpr int kLanguage = 1114;
inline constexpr int kLogo = 1286;
// Added after the shipped layout, above every id it uses.
inline constexpr int kCapacityCheck = 1315;

// The system-menu command that opens the About box (low four bits are the platform's).
inline constexpr int kAboutCommand = 16;

} // namespace tarvix::station::id
