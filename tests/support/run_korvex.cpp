#include "support/run_korvex.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace korvex::test {
namespace {

std::string slurp(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

RunResult runKorvex(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                    const std::string& workDir) {
  RunResult result;
  char outTemplate[] = "/tmp/korvex-out-XXXXXX";
  char errTemplate[] = "/tmp/korvex-err-XXXXXX";
  int outFd = ::mkstemp(outTemplate);
  int errFd = ::mkstemp(errTemplate);
  if (outFd < 0 || errFd < 0) return result;
  ::unlink(outTemplate);
  ::unlink(errTemplate);

  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    for (const auto& [name, value] : env) {
      if (value.empty()) ::unsetenv(name.c_str());
      else ::setenv(name.c_str(), value.c_str(), 1);
    }
    // The sanitizer runtime of the test build must not add its own output.
    ::setenv("ASAN_OPTIONS", "detect_leaks=1:exitcode=99", 1);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(98);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KORVEX_BINARY));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(KORVEX_BINARY, argv.data());
    ::_exit(97);
  }
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(outFd, 0, SEEK_SET);
  ::lseek(errFd, 0, SEEK_SET);
  result.stdOut = slurp(outFd);
  result.stdErr = slurp(errFd);
  ::close(outFd);
  ::close(errFd);
  return result;
}

}  // namespace korvex::test
