#include "run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

int startProgram(const std::string &binary, const std::vector<std::string> &args,
                 const std::filesystem::path &workingDirectory, const ChildSetup &setup) {
  const std::filesystem::path outPath = workingDirectory / ".stdout";
  const pid_t pid = fork();
  if (pid != 0) {
    return pid;
  }
  int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int unread[2];
  if (setup.closedStdout && pipe(unread) == 0 && close(unread[0]) == 0) {
    fd = unread[1];
  }
  if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || chdir(workingDirectory.c_str()) != 0) {
    _exit(127);
  }
  for (const auto &[resource, bytes] : {std::pair{RLIMIT_AS, setup.addressSpaceBytes},
                                        std::pair{RLIMIT_FSIZE, setup.fileSizeBytes}}) {
    const rlimit limit{bytes, bytes};
    if (bytes != 0 && setrlimit(resource, &limit) != 0) {
      _exit(127);
    }
  }
  for (const std::string &variable : setup.environment) {
    putenv(const_cast<char *>(variable.c_str()));
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

ProgramResult finishProgram(int pid, const std::filesystem::path &workingDirectory) {
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ProgramResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  result.out = readFile(workingDirectory / ".stdout");
  std::filesystem::remove(workingDirectory / ".stdout");
  return result;
}

ProgramResult runProgram(const std::string &binary, const std::vector<std::string> &args,
                         const std::filesystem::path &workingDirectory, const ChildSetup &setup) {
  return finishProgram(startProgram(binary, args, workingDirectory, setup), workingDirectory);
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
