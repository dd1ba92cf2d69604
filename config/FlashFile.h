// Whole-file access to the small settings files in flash. Internal to
// config/: the store and the user accounts go through these, with their
// paths already mapped to the host.
//
// A file is never rewritten in place: a power cut in the middle of a write
// must leave either the old or the new content, never a short file that the
// next start would read as broken (or, for the user file, as no accounts).
#pragma once

#include <cstddef>
#include <string>

namespace tavik::flash {

// What opening a file for reading found.
enum class OpenResult { kOpened, kMissing, kFailed };

// Replaces the file at `hostPath` with `size` bytes of `data`: writes them
// to "<hostPath>.new" in the same directory, flushes it to the medium,
// renames it over the old file and flushes the directory. Returns 0, or -1
// when any step fails; the old file is then untouched and the temporary one
// removed. Takes no lock: callers hold the store's file lock.
int replaceFile(const std::string& hostPath, const void* data, size_t size);

// Reads up to `size` bytes from the start of the file into `data`.
// `*got` receives the count read. kMissing when the file (or a directory on
// its way) does not exist, kFailed for any other open or read error.
OpenResult readHead(const std::string& hostPath, void* data, size_t size, size_t* got);

}  // namespace tavik::flash
