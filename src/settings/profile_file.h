// A private-profile (INI) file: sections of key=value lines. Reading follows the classic profile
// rules the settings rely on: a missing key gives the default, texts lose trailing blanks and are
// cut to 127 characters, integers are read as a leading signed decimal, and a line that is neither
// blank, a comment, a [section] nor key=value is skipped. Writing replaces a key in place or
// appends it to its section, creating the section at the end of the file; every line it does not
// write (comments, skipped lines, keys of other tools) stays where it was. Not thread-safe; one
// owner at a time.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::settings {

class ProfileFile {
public:
  // An empty profile: every read gives its default.
  ProfileFile() = default;

  // Reads `path`. False, with `error` set, only when it cannot be read.
  bool load(const std::filesystem::path& path, std::string& error);
  // The lines the last load skipped, one "path:line: reason" each.
  const std::vector<std::string>& skippedLines() const { return skipped_; }
  // Replaces `path` as a whole: a temporary file beside it, flushed to the disk, then renamed
  // over it, so a crash at any moment leaves the old file or the new one. False when it cannot.
  bool save(const std::filesystem::path& path) const;

  std::string text(std::string_view section, std::string_view key, std::string_view fallback) const;
  int integer(std::string_view section, std::string_view key, int fallback) const;
  // True when the file holds `key` in `section`.
  bool has(std::string_view section, std::string_view key) const;

  // Adds an empty `section` at the end when the file has none of that name.
  void addSection(std::string_view section);
  void setText(std::string_view section, std::string_view key, std::string_view value);
  void setInteger(std::string_view section, std::string_view key, int value);
  void setCheck(std::string_view section, std::string_view key, bool checked);

private:
  // One line of the file. Only headers and entries are read or rewritten; every other line is
  // written back as it was read.
  struct Line {
    enum class Kind { Kept, Header, Entry } kind = Kind::Kept;
    std::string text;    // Kept: the line as read; Header: the section; Entry: the key
    std::string value;   // Entry: its value as read, untrimmed
    std::string section; // Entry: the section it is in
  };
  const Line* find(std::string_view section, std::string_view key) const;

  std::vector<Line> lines_;
  std::vector<std::string> skipped_;
};

// True when `path` names a regular file this process can open for reading.
bool readable(const std::filesystem::path& path);

} // namespace tarvix::settings
