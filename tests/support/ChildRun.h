#pragma once
// Runs this test program again in a child process (another environment, another display,
// a fresh process for start-up and exit behaviour) and collects what it printed.
#include <string>

namespace quorvel::testkit {

struct TChildRun {
  int Status = -1;     // as std::system answers it (see WIFEXITED / WEXITSTATUS)
  std::string Output;  // standard output and standard error together
};

// Runs "<APrefix> '<this program>' --gtest_filter=<AFilter>"; APrefix holds environment
// settings and a launcher such as xvfb-run.
TChildRun RunSelf(const std::string& APrefix, const std::string& AFilter);

// Whether a command is on the PATH.
bool HasCommand(const std::string& AName);

}  // namespace quorvel::testkit
