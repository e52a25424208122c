// Files that appear only when complete: written to a temporary file in the same
// folder, flushed to disk and renamed over the target.
#pragma once

#include <functional>
#include <string>
#include <system_error>

namespace capture {

// Writes `path` through `body`, which writes the whole content to the descriptor it
// is given and reports the first failure. On any failure the old file is untouched
// and no temporary file is left. A symbolic link is followed: the file it points to
// is replaced and the link kept. An existing file nobody may write is refused, as is
// a folder.
std::error_code writeAtomically(const std::string& path, const std::function<std::error_code(int fd)>& body);

// Writes all of `size` bytes, going on after interruptions; the first failure.
std::error_code writeAll(int fd, const void* data, std::size_t size);

}  // namespace capture
