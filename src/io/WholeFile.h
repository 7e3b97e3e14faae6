#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

// Whole files in one piece: the scene loader and obj2scene read their input
// this way, the BMP writer and obj2scene write their output this way.

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

enum class WriteResult { Ok, CannotOpen, CannotWrite };

// Creates or truncates `path` and writes `size` bytes. When they cannot all
// be written and the file closed (a full disk), a regular file at `path` is
// removed so that no truncated file is left behind; a device or other special
// file the path may name (such as /dev/full) is never removed.
WriteResult writeWholeFile(const std::string &path, const void *data, std::size_t size);
