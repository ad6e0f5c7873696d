// A private-profile (INI) file: sections of key=value lines. Reading follows the classic profile
// rules the settings rely on: a missing key gives the default, texts lose trailing blanks and are
// cut to 127 characters, integers are read as a leading signed decimal. Writing replaces a key in
// place or appends it to its section, creating the section at the end of the file. Not
// thread-safe; one owner at a time.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::settings {

class ProfileFile {
public:
  // An empty profile: every read gives its default.
  ProfileFile() = default;

  // Reads `path`. False when it cannot be read or holds a line that is neither blank, a comment
  // (';' or '#'), a [section] nor key=value; `error` then says which line and why.
  bool load(const std::filesystem::path& path, std::string& error);
  // Writes the whole profile to `path`. False when it cannot be written.
  bool save(const std::filesystem::path& path) const;

  std::string text(std::string_view section, std::string_view key, std::string_view fallback) const;
  int integer(std::string_view section, std::string_view key, int fallback) const;

  void setText(std::string_view section, std::string_view key, std::string_view value);
  void setInteger(std::string_view section, std::string_view key, int value);
  void setCheck(std::string_view section, std::string_view key, bool checked);

private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Entry* find(std::string_view section, std::string_view key) const;

  std::vector<Section> sections_;
};

// True when `path` names a file this process can open for reading.
bool readable(const std::filesystem::path& path);

} // namespace tarvix::settings
