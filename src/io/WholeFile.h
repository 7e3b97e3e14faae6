#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "io/OutputFile.h"

// Whole files in one piece: the scene loader and scenetool read their input
// this way, and scenetool writes its scenes this way.

inline constexpr std::uintmax_t kNoSizeLimit = std::numeric_limits<std::uintmax_t>::max();

enum class ReadResult { Ok, CannotOpen, CannotRead, TooLarge };

// Appends everything `file` delivers to `text`: TooLarge as soon as `text`
// would grow beyond maxBytes (so a device that never ends cannot take all
// memory), CannotRead on a read error.
ReadResult readAll(std::FILE *file, std::string &text, std::uintmax_t maxBytes = kNoSizeLimit);

// Reads the file at `path` into `text`. A regular file beyond maxBytes is
// refused before it is read, and one within it is read into a buffer of its
// size.
ReadResult readWholeFile(const std::string &path, std::string &text,
                         std::uintmax_t maxBytes = kNoSizeLimit);

// Writes `size` bytes from memory as the whole new content of `path`, through
// an OutputFile: the old file is replaced only when the new one is complete,
// and is left as it was on any failure.
WriteResult writeWholeFile(const std::string &path, const void *data, std::size_t size);
