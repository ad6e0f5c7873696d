// What the About box shows, the same in every language: its caption, its one line beside the
// station's icon, and the one button that closes it.
#pragma once

namespace tarvix::ui {

inline constexpr const char* kAboutCaption = "Tarvix";
inline constexpr const char* kAboutLine = "Tarvix 1.0.0.6 版";
inline constexpr const char* kAboutButton = "確定";

} // namespace tarvix::ui
