#include "io/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "io/OutputSignals.h"

namespace {

// Follows `path` through symlinks to the name that will hold the file. A
// dangling link yields its missing target, which is then created. A loop of
// links names no file: "" (renaming over one of its links would replace it).
std::string followLinks(std::string path) {
  for (int hop = 0; hop <= 40; ++hop) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0 || std::size_t(length) == sizeof target) {
      return path;
    }
    const std::string link(target, std::size_t(length));
    const std::size_t slash = path.rfind('/');
    path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  return "";
}

// A new file beside `final`, hidden and named after it, created exclusively.
int createTemporary(const std::string &final, mode_t mode, std::string &name) {
  const std::size_t slash = final.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : final.substr(0, slash + 1);
  // Shortened so that a name near the length limit still has room for the suffix.
  const std::string base =
      (slash == std::string::npos ? final : final.substr(slash + 1)).substr(0, 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = directory + "." + base + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) +
           ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

bool writeAll(int fd, const unsigned char *data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    data += done;
    size -= std::size_t(done);
  }
  return true;
}

} // namespace

OutputFile::~OutputFile() {
  discard();
}

WriteResult OutputFile::open(std::uint64_t expectedSize) {
  installOutputSignalHandling();
  struct stat existing {};
  const bool exists = stat(path_.c_str(), &existing) == 0;
  final_ = followLinks(path_);
  struct stat followed {};
  // Descriptors (/dev/stdout is one whatever it leads to), devices, FIFOs, and
  // links that the kernel resolves otherwise than by their text.
  inPlace_ = path_.rfind("/dev/", 0) == 0 || path_.rfind("/proc/", 0) == 0 ||
             (exists && (!S_ISREG(existing.st_mode) || stat(final_.c_str(), &followed) != 0 ||
                         followed.st_dev != existing.st_dev || followed.st_ino != existing.st_ino));
  if (inPlace_) {
    return state_ = WriteResult::Ok;
  }
  if (final_.empty()) {
    return state_ = WriteResult::CannotOpen;
  }
  if (exists) {
    // Renaming needs only a writable directory; a file its owner cannot
    // write (or one the kernel keeps read-only) is refused as before.
    const int probe = ::open(final_.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) {
      return state_ = WriteResult::CannotOpen;
    }
    ::close(probe);
  }
  // The new file keeps the old one's permissions; a new name gets the umask's.
  const mode_t mode = exists ? existing.st_mode & 07777 : 0666;
  {
    const TerminationSignalsDeferred deferred;
    fd_ = createTemporary(final_, mode, temporary_);
    if (fd_ < 0) {
      temporary_.clear();
      return state_ = WriteResult::CannotOpen;
    }
    setPendingTemporary(temporary_.c_str());
  }
  if (exists) {
    // Owner first (only root may give a file away; otherwise it stays the
    // writer's), then the mode, which a change of owner may have cleared.
    [[maybe_unused]] const int owned = fchown(fd_, existing.st_uid, existing.st_gid);
    fchmod(fd_, mode);
  }
  state_ = WriteResult::Ok;
  if (expectedSize > 0) {
    // Filesystems without this call simply find a full disk while writing.
    const int error = posix_fallocate(fd_, 0, off_t(expectedSize));
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL && error != ENOSYS) {
      return fail(WriteResult::CannotWrite);
    }
    reserved_ = error == 0 ? expectedSize : 0;
  }
  return state_;
}

bool OutputFile::openInPlace() {
  if (fd_ < 0) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  return fd_ >= 0;
}

WriteResult OutputFile::write(const void *data, std::size_t size) {
  if (state_ == WriteResult::Ok && inPlace_ && !openInPlace()) {
    return fail(WriteResult::CannotOpen);
  }
  if (state_ == WriteResult::Ok) {
    if (!writeAll(fd_, static_cast<const unsigned char *>(data), size)) {
      return fail(WriteResult::CannotWrite);
    }
    written_ += size;
  }
  return state_;
}

WriteResult OutputFile::commit() {
  if (state_ == WriteResult::Ok && inPlace_ && !openInPlace()) {
    return fail(WriteResult::CannotOpen);
  }
  if (state_ != WriteResult::Ok) {
    return state_;
  }
  if (!temporary_.empty()) {
    // The reservation may exceed what was written; the rename must not
    // publish anything but complete data.
    const bool trimmed = reserved_ <= written_ || ftruncate(fd_, off_t(written_)) == 0;
    if (!trimmed || fsync(fd_) != 0) {
      return fail(WriteResult::CannotWrite);
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 ||
      (!temporary_.empty() && rename(temporary_.c_str(), final_.c_str()) != 0)) {
    return fail(WriteResult::CannotWrite);
  }
  setPendingTemporary(nullptr);
  temporary_.clear();
  return state_;
}

WriteResult OutputFile::fail(WriteResult why) {
  state_ = why;
  discard();
  return state_;
}

void OutputFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    setPendingTemporary(nullptr);
    temporary_.clear();
  }
}

std::string outputIsInputProblem(const std::string &input, const std::string &output) {
  struct stat in {};
  struct stat out {};
  if (stat(input.c_str(), &in) != 0 || !S_ISREG(in.st_mode) || stat(output.c_str(), &out) != 0 ||
      in.st_dev != out.st_dev || in.st_ino != out.st_ino) {
    return {};
  }
  return "The output file " + output + " is the input file " + input;
}
