#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

enum class WriteResult { Ok, CannotOpen, CannotWrite };

// An output file that replaces the old one only once it is complete. The
// bytes go to a new temporary file beside the final file (beside a symlink's
// target, so the link is kept), which is flushed to disk, closed and renamed
// over the final name. Until then, and after any failure, the old file is
// untouched; the temporary file is removed on failure, on destruction without
// commit(), and when SIGINT, SIGTERM or SIGHUP end the process. A path that
// names something other than a regular file (a FIFO, a device) or lies under
// /dev or /proc (/dev/stdout) is opened at the first write and written in
// place, as a plain open-and-write would.
class OutputFile {
public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {}
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Creates the temporary file and reserves `expectedSize` bytes of disk for
  // it, so that a full disk or a file-size limit shows before any work is
  // done: CannotOpen when the file cannot be created (a missing directory, a
  // read-only file), CannotWrite when the space cannot be had. A file written
  // in place is only opened by the first write (or commit).
  WriteResult open(std::uint64_t expectedSize = 0);
  // Appends bytes; the first failure is kept and later writes do nothing.
  WriteResult write(const void *data, std::size_t size);
  // Flushes, closes and renames the file into place, or removes it and
  // returns the first failure.
  WriteResult commit();

  const std::string &path() const { return path_; }
  WriteResult state() const { return state_; }

private:
  WriteResult fail(WriteResult why);
  bool openInPlace();
  void discard();

  std::string path_;
  std::string final_;     // path_ with its symlinks followed
  std::string temporary_; // empty when writing in place
  bool inPlace_ = false;
  int fd_ = -1;
  std::uint64_t written_ = 0;
  std::uint64_t reserved_ = 0;
  WriteResult state_ = WriteResult::CannotOpen;
};

// The one-line refusal when `output` is the same file as `input` (after
// following links: same device and inode, and a regular file), else an empty
// string. Checked before the input is read, so that neither file is touched.
std::string outputIsInputProblem(const std::string &input, const std::string &output);
