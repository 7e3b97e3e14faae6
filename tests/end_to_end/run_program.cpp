#include "run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

ProgramResult runProgram(const std::string &binary, const std::vector<std::string> &args,
                         const std::filesystem::path &workingDirectory,
                         std::size_t addressSpaceBytes) {
  const std::filesystem::path outPath = workingDirectory / ".stdout";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || chdir(workingDirectory.c_str()) != 0) {
      _exit(127);
    }
    if (addressSpaceBytes != 0) {
      const rlimit limit{addressSpaceBytes, addressSpaceBytes};
      if (setrlimit(RLIMIT_AS, &limit) != 0) {
        _exit(127);
      }
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &arg : args) {
      argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ProgramResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = readFile(outPath);
  std::filesystem::remove(outPath);
  return result;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "raytracer-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a scratch directory");
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDirectory::write(const std::string &name,
                                              const std::string &bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

testing::AssertionResult refusedWith(const ProgramResult &result, const std::string &message,
                                     const std::filesystem::path &output) {
  if (result.out != message || result.status != 1 || std::filesystem::exists(output)) {
    return testing::AssertionFailure()
           << "printed \"" << result.out << "\", exited with " << result.status
           << (std::filesystem::exists(output) ? " and wrote " : " and did not write ") << output
           << "; expected \"" << message << "\", status 1 and no file";
  }
  return testing::AssertionSuccess();
}
