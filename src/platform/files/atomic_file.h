// Replacing a whole file so that a crash or a full disk at any moment leaves either the old
// content or the new one, never a mix or an empty file.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvix::platform::files {

// Writes `content` to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`. A file that existed keeps its permissions. False when any part failed; `path` is then
// as it was. When the folder may not take the temporary file (an installed station's folder, with
// a settings file an administrator made writable), an existing `path` that can be written is
// rewritten in place and flushed: saved rather than lost, though not proof against a crash in
// that moment.
bool replaceAtomically(const std::filesystem::path& path, std::string_view content);

} // namespace tarvix::platform::files
