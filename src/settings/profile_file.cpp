#include "settings/profile_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace tarvix::settings {
namespace {

// Texts are read into a 128-character buffer: 127 characters and the terminator.
constexpr std::size_t kTextLimit = 127;

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

// Blanks and tabs, which the reader also drops from the end of a line, so a text reads the same
// before and after a save.
std::string_view trimRight(std::string_view s) {
  const auto last = s.find_last_not_of(" \t");
  return last == std::string_view::npos ? std::string_view{} : s.substr(0, last + 1);
}

// Cuts after `limit` characters without splitting a UTF-8 sequence.
std::string cut(std::string_view s, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && characters++ == limit) {
      return std::string(s.substr(0, i));
    }
  }
  return std::string(s);
}

} // namespace

bool ProfileFile::load(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path.string() + ": cannot be read";
    return false;
  }
  std::vector<Section> sections;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string_view content = trim(line);
    if (number == 1 && content.substr(0, 3) == "\xEF\xBB\xBF") content = trim(content.substr(3));
    if (content.empty() || content.front() == ';' || content.front() == '#') continue;
    if (content.front() == '[') {
      if (content.back() != ']') {
        error = path.string() + ":" + std::to_string(number) + ": section header without ']'";
        return false;
      }
      sections.push_back({std::string(trim(content.substr(1, content.size() - 2))), {}});
      continue;
    }
    const auto equals = content.find('=');
    if (equals == std::string_view::npos || sections.empty()) {
      error = path.string() + ":" + std::to_string(number) +
              (sections.empty() ? ": key outside any [section]" : ": expected key=value");
      return false;
    }
    sections.back().entries.push_back(
        {std::string(trim(content.substr(0, equals))), std::string(content.substr(equals + 1))});
  }
  sections_ = std::move(sections);
  return true;
}

bool ProfileFile::save(const std::filesystem::path& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const Section& section : sections_) {
    out << '[' << section.name << "]\r\n";
    for (const Entry& e : section.entries)
      out << e.key << '=' << e.value << "\r\n";
  }
  return static_cast<bool>(out.flush());
}

const ProfileFile::Entry* ProfileFile::find(std::string_view section, std::string_view key) const {
  for (const Section& s : sections_) {
    if (!sameName(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (sameName(e.key, key)) return &e;
    }
  }
  return nullptr;
}

std::string ProfileFile::text(std::string_view section, std::string_view key,
                              std::string_view fallback) const {
  const Entry* e = find(section, key);
  return cut(trimRight(e ? std::string_view(e->value) : fallback), kTextLimit);
}

int ProfileFile::integer(std::string_view section, std::string_view key, int fallback) const {
  const Entry* e = find(section, key);
  if (e == nullptr) return fallback;
  std::string_view value = trim(e->value);
  if (!value.empty() && value.front() == '+') value.remove_prefix(1);
  int result = 0;
  std::from_chars(value.data(), value.data() + value.size(), result);
  return result;
}

void ProfileFile::setText(std::string_view section, std::string_view key, std::string_view value) {
  auto s = std::find_if(sections_.begin(), sections_.end(),
                        [&](const Section& x) { return sameName(x.name, section); });
  if (s == sections_.end()) {
    sections_.push_back({std::string(section), {}});
    s = sections_.end() - 1;
  }
  // A line break would end the line early and turn the rest into a line of its own.
  std::string stored(value.substr(0, value.find_first_of("\r\n")));
  for (Entry& e : s->entries) {
    if (sameName(e.key, key)) {
      e.value = std::move(stored);
      return;
    }
  }
  s->entries.push_back({std::string(key), std::move(stored)});
}

void ProfileFile::setInteger(std::string_view section, std::string_view key, int value) {
  setText(section, key, std::to_string(value));
}

void ProfileFile::setCheck(std::string_view section, std::string_view key, bool checked) {
  setText(section, key, checked ? "1" : "0");
}

bool readable(const std::filesystem::path& path) {
  std::error_code error;
  if (path.empty() || std::filesystem::is_directory(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

} // namespace tarvix::settings
