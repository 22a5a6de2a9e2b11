// Runs the korvex binary as a user would, capturing what it prints.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace korvex::test {

struct RunResult {
  int exitCode = -1;    // the process exit status (255 for the program's -1)
  std::string stdOut;
  std::string stdErr;
};

// Runs KORVEX_BINARY with `args` (argv[1..]) in `workDir` (unchanged when
// empty). `env` entries are set (an empty value unsets the variable) on top
// of the test's environment; LC_ALL defaults to C.UTF-8.
RunResult runKorvex(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {},
                    const std::string& workDir = "");

}  // namespace korvex::test
