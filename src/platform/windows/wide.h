// UTF-8 station text to and from the system's wide characters.
#pragma once

#include <string>
#include <string_view>

namespace tarvix::platform::windows {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

} // namespace tarvix::platform::windows
