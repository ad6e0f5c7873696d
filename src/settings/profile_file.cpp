#include "settings/profile_file.h"

#include "platform/files/atomic_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <optional>

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
  std::vector<Line> lines;
  std::vector<std::string> skipped;
  // Empty before the first header and after a broken one: keys there belong to no section.
  std::optional<std::string> current;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view content = trim(line);
    if (number == 1 && content.substr(0, 3) == "\xEF\xBB\xBF") content = trim(content.substr(3));
    const char* reason = nullptr;
    if (content.empty() || content.front() == ';' || content.front() == '#') {
      // kept as it stands
    } else if (content.front() == '[') {
      if (content.back() == ']') {
        current = std::string(trim(content.substr(1, content.size() - 2)));
        lines.push_back({Line::Kind::Header, *current, {}, {}});
        continue;
      }
      current.reset();
      reason = "section header without ']'";
    } else if (const auto equals = content.find('=');
               equals == std::string_view::npos || trim(content.substr(0, equals)).empty()) {
      reason = "not a key=value line";
    } else if (!current) {
      reason = "key outside any [section]";
    } else {
      lines.push_back({Line::Kind::Entry, std::string(trim(content.substr(0, equals))),
                       std::string(content.substr(equals + 1)), *current});
      continue;
    }
    if (reason != nullptr) {
      skipped.push_back(path.string() + ":" + std::to_string(number) + ": " + reason + ", skipped");
    }
    lines.push_back({Line::Kind::Kept, line, {}, {}});
  }
  lines_ = std::move(lines);
  skipped_ = std::move(skipped);
  return true;
}

bool ProfileFile::save(const std::filesystem::path& path) const {
  if (path.empty()) return false;
  std::string content;
  for (const Line& line : lines_) {
    switch (line.kind) {
    case Line::Kind::Kept: content += line.text; break;
    case Line::Kind::Header: content += '[' + line.text + ']'; break;
    case Line::Kind::Entry: content += line.text + '=' + line.value; break;
    }
    content += "\r\n";
  }
  return platform::files::replaceAtomically(path, content);
}

const ProfileFile::Line* ProfileFile::find(std::string_view section, std::string_view key) const {
  for (const Line& line : lines_) {
    if (line.kind == Line::Kind::Entry && sameName(line.section, section) &&
        sameName(line.text, key)) {
      return &line;
    }
  }
  return nullptr;
}

bool ProfileFile::has(std::string_view section, std::string_view key) const {
  return find(section, key) != nullptr;
}

std::string ProfileFile::text(std::string_view section, std::string_view key,
                              std::string_view fallback) const {
  const Line* e = find(section, key);
  return cut(trimRight(e ? std::string_view(e->value) : fallback), kTextLimit);
}

int ProfileFile::integer(std::string_view section, std::string_view key, int fallback) const {
  const Line* e = find(section, key);
  if (e == nullptr) return fallback;
  std::string_view value = trim(e->value);
  if (!value.empty() && value.front() == '+') value.remove_prefix(1);
  int result = 0;
  std::from_chars(value.data(), value.data() + value.size(), result);
  return result;
}

void ProfileFile::addSection(std::string_view section) {
  const bool present = std::any_of(lines_.begin(), lines_.end(), [&](const Line& l) {
    return l.kind == Line::Kind::Header && sameName(l.text, section);
  });
  if (!present) lines_.push_back({Line::Kind::Header, std::string(section), {}, {}});
}

void ProfileFile::setText(std::string_view section, std::string_view key, std::string_view value) {
  // A line break would end the line early and turn the rest into a line of its own.
  const std::string stored(value.substr(0, value.find_first_of("\r\n")));
  for (Line& line : lines_) {
    if (line.kind == Line::Kind::Entry && sameName(line.section, section) &&
        sameName(line.text, key)) {
      line.value = stored;
      return;
    }
  }
  // A new key goes after the last header or key of its section.
  auto last = lines_.end();
  for (auto l = lines_.begin(); l != lines_.end(); ++l) {
    if ((l->kind == Line::Kind::Header && sameName(l->text, section)) ||
        (l->kind == Line::Kind::Entry && sameName(l->section, section))) {
      last = l;
    }
  }
  if (last == lines_.end()) {
    lines_.push_back({Line::Kind::Header, std::string(section), {}, {}});
    last = lines_.end() - 1;
  }
  const std::string owner = last->kind == Line::Kind::Header ? last->text : last->section;
  lines_.insert(last + 1, {Line::Kind::Entry, std::string(key), stored, owner});
}

void ProfileFile::setInteger(std::string_view section, std::string_view key, int value) {
  setText(section, key, std::to_string(value));
}

void ProfileFile::setCheck(std::string_view section, std::string_view key, bool checked) {
  setText(section, key, checked ? "1" : "0");
}

bool readable(const std::filesystem::path& path) {
  // Judged before anything opens it: opening a FIFO would block the station.
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

} // namespace tarvix::settings
