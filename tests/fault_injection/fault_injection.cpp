// Preloaded into the programs under test (LD_PRELOAD) to make their own file
// calls fail or stall. Set in the environment:
//   FAULT_CALL    write, close, fsync or rename: the call to break
//   FAULT_AT      which of those calls (1 = the first) on a regular file
//                 other than standard output or error (rename: any); pipes,
//                 such as scenetool's from its mesh-reading child, are left alone
//   FAULT_ERRNO   the error it fails with
//   FAULT_MARKER  a file created when the fault strikes
//   FAULT_STALL   if set, the call waits for a signal instead of failing
//   FAULT_DELAY_US  a pause before every write, to interleave processes
// Calls the C library makes internally (stdio) are not affected.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Function> Function real(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

const char *setting(const char *name) {
  return std::getenv(name);
}

bool isOutputFile(int fd) {
  struct stat status {};
  return fd > 2 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// True when this call is the one to break; the marker tells the test.
bool strikes(const char *call, bool onOutputFile) {
  static int count = 0;
  const char *target = setting("FAULT_CALL");
  if (target == nullptr || std::strcmp(target, call) != 0 || !onOutputFile) {
    return false;
  }
  if (++count != std::atoi(setting("FAULT_AT") ? setting("FAULT_AT") : "1")) {
    return false;
  }
  if (const char *marker = setting("FAULT_MARKER")) {
    const int made = real<int (*)(int)>("close")(open(marker, O_WRONLY | O_CREAT, 0644));
    (void)made;
  }
  while (setting("FAULT_STALL") != nullptr) {
    pause();
  }
  errno = std::atoi(setting("FAULT_ERRNO") ? setting("FAULT_ERRNO") : "5");
  return true;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *data, size_t size) {
  if (const char *delay = setting("FAULT_DELAY_US"); delay != nullptr && fd > 2) {
    usleep(useconds_t(std::atoi(delay)));
  }
  if (strikes("write", isOutputFile(fd))) {
    return -1;
  }
  return real<ssize_t (*)(int, const void *, size_t)>("write")(fd, data, size);
}

int close(int fd) {
  // The descriptor is released either way, as a failing close does.
  const bool onOutputFile = isOutputFile(fd);
  const int result = real<int (*)(int)>("close")(fd);
  return strikes("close", onOutputFile) ? -1 : result;
}

int fsync(int fd) {
  return strikes("fsync", isOutputFile(fd)) ? -1 : real<int (*)(int)>("fsync")(fd);
}

int rename(const char *from, const char *to) {
  return strikes("rename", true) ? -1
                                 : real<int (*)(const char *, const char *)>("rename")(from, to);
}
}
