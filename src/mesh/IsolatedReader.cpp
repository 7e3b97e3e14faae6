#include "mesh/IsolatedReader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "mesh/MeshWire.h"

namespace {

using Clock = std::chrono::steady_clock;

// The address space this process already holds (sanitizer runtimes reserve
// terabytes of it up front), so the limit counts only what reading adds.
std::uint64_t currentAddressSpace() {
  std::FILE *statm = std::fopen("/proc/self/statm", "r");
  unsigned long long pages = 0;
  if (statm != nullptr) {
    if (std::fscanf(statm, "%llu", &pages) != 1) {
      pages = 0;
    }
    std::fclose(statm);
  }
  return pages * std::uint64_t(sysconf(_SC_PAGESIZE));
}

void lowerLimit(int resource, std::uint64_t value) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0) {
    return;
  }
  if (limit.rlim_max != RLIM_INFINITY && value > limit.rlim_max) {
    value = limit.rlim_max;
  }
  if (limit.rlim_cur == RLIM_INFINITY || value < limit.rlim_cur) {
    limit.rlim_cur = rlim_t(value);
    setrlimit(resource, &limit);
  }
}

bool writeAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

[[noreturn]] void runChild(int fd, const std::string &path, const ReadLimits &limits,
                           ChildReader reader) {
  // The library's own complaints (assertion texts) must not reach the user.
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  lowerLimit(RLIMIT_CORE, 0);
  lowerLimit(RLIMIT_CPU, std::uint64_t(std::ceil(limits.seconds)) + 1);
  lowerLimit(RLIMIT_AS, currentAddressSpace() + limits.memoryBytes);
  std::string reply;
  try {
    reply = reader(path);
  } catch (const std::bad_alloc &) {
    reply = encodeError(ReplyKind::OutOfMemory, "out of memory");
  } catch (...) {
    reply = encodeError(ReplyKind::Error, "the mesh library failed");
  }
  _exit(writeAll(fd, reply) ? 0 : 1);
}

std::string formatLimit(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string memoryMessage(const ReadLimits &limits) {
  return "reading needed more than " +
         formatLimit(std::ceil(double(limits.memoryBytes) / 1048576.0)) +
         " MB of memory (raise the limit with --memory-limit)";
}

std::string timeMessage(const ReadLimits &limits) {
  return "reading took longer than " + formatLimit(limits.seconds) +
         " seconds (raise the limit with --time-limit)";
}

// Reads the child's reply until it closes the pipe or time runs out.
bool readReply(int fd, Clock::time_point deadline, std::string &reply) {
  char chunk[1 << 16];
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd waitFor{fd, POLLIN, 0};
    const int ready = poll(&waitFor, 1, int(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) {
      return true;
    }
    if (ready <= 0) {
      continue;
    }
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return true;
    }
    reply.append(chunk, std::size_t(n));
  }
}

// The child's status once it has closed the pipe; it may still be exiting.
bool waitForChild(pid_t child, Clock::time_point deadline, int &status) {
  while (true) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      return true;
    }
    if (done < 0 && errno != EINTR) {
      status = 0;
      return true;
    }
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void stopChild(pid_t child) {
  kill(child, SIGKILL);
  int ignored = 0;
  while (waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
  }
}

} // namespace

ReadLimits limitsForFileSize(std::uintmax_t fileBytes) {
  ReadLimits limits;
  limits.seconds = 30.0 + std::ceil(double(fileBytes) / 1e6);
  limits.memoryBytes = (std::uint64_t(1) << 30) + 64 * std::uint64_t(fileBytes);
  return limits;
}

ReadOutcome readMeshIsolated(const std::string &path, const ReadLimits &limits,
                             ChildReader reader) {
  ReadOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) {
    outcome.error = std::string("cannot start the reader (") + std::strerror(errno) + ")";
    return outcome;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    outcome.error = std::string("cannot start the reader (") + std::strerror(errno) + ")";
    return outcome;
  }
  if (child == 0) {
    close(fds[0]);
    runChild(fds[1], path, limits, reader);
  }
  close(fds[1]);
  // A limit this process already runs under may be the tighter one.
  ReadLimits effective = limits;
  rlimit inherited{};
  if (getrlimit(RLIMIT_AS, &inherited) == 0 && inherited.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t held = currentAddressSpace();
    effective.memoryBytes = std::min<std::uint64_t>(
        limits.memoryBytes, inherited.rlim_cur > held ? inherited.rlim_cur - held : 0);
  }

  const auto deadline =
      Clock::now() + std::chrono::milliseconds(std::llround(limits.seconds * 1000.0));
  std::string bytes;
  bool finished = false;
  int status = 0;
  try {
    finished = readReply(fds[0], deadline, bytes) && waitForChild(child, deadline, status);
  } catch (...) {
    close(fds[0]);
    stopChild(child);
    throw;
  }
  close(fds[0]);
  if (!finished) {
    stopChild(child);
    outcome.error = timeMessage(limits);
    return outcome;
  }
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGXCPU) {
      outcome.error = timeMessage(limits);
    } else if (signal == SIGABRT) {
      outcome.error = "the mesh library stopped on a failed internal check (Aborted)";
    } else {
      outcome.error = std::string("the mesh library crashed (") + strsignal(signal) + ")";
    }
    return outcome;
  }
  Reply reply = decodeReply(bytes);
  bytes = std::string();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !reply.valid) {
    outcome.error = "the mesh library stopped without an answer";
  } else if (reply.kind == ReplyKind::OutOfMemory) {
    outcome.error = memoryMessage(effective);
  } else if (reply.kind == ReplyKind::Error) {
    outcome.error = reply.reason;
  } else {
    outcome.mesh = std::move(reply.mesh);
  }
  return outcome;
}
