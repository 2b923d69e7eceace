#include "tests/support/ChildRun.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quorvel::testkit {

TChildRun RunSelf(const std::string& APrefix, const std::string& AFilter) {
  TChildRun run;
  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    run.Output = "cannot find this program";
    return run;
  }
  self[length] = '\0';
  static std::atomic<int> next{0};
  const std::string log = (std::filesystem::temp_directory_path() /
                           ("quorvel-child-" + std::to_string(::getpid()) + "-" + std::to_string(next++) + ".log"))
                              .string();
  const std::string command =
      APrefix + " '" + self + "' --gtest_filter=" + AFilter + " > '" + log + "' 2>&1";
  run.Status = std::system(command.c_str());
  std::ifstream in(log);
  run.Output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::error_code ec;
  std::filesystem::remove(log, ec);
  return run;
}

bool HasCommand(const std::string& AName) {
  return std::system(("command -v " + AName + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace quorvel::testkit
