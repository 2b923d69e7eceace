// The program pellumar as a process: it keeps running in a window until SIGTERM ends it with
// exit code 0, and without its assets it fails with the file-open error on stderr.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/demo/DemoSupport.h"
#include "tests/support/ChildRun.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct TProcess {
  pid_t Pid = -1;
  fs::path ErrFile;
};

// Starts pellumar in AFolder with SDL_VIDEODRIVER as given; its stderr goes to a file.
TProcess Start(const fs::path& AFolder, const char* AVideoDriver) {
  TProcess p;
  p.ErrFile = AFolder / "stderr.txt";
  p.Pid = fork();
  if (p.Pid == 0) {
    if (chdir(AFolder.c_str()) != 0) _exit(126);
    const int fd = open(p.ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    setenv("SDL_VIDEODRIVER", AVideoDriver, 1);
    execl(PELLUMAR_PATH, "pellumar", static_cast<char*>(nullptr));
    _exit(127);
  }
  return p;
}

// Waits up to ASeconds; the wait status, or -1 when it still runs.
int WaitFor(pid_t APid, double ASeconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(ASeconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(APid, &status, WNOHANG) == APid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder, with the demo's assets when asked.
fs::path MakeFolder(bool AWithAssets) {
  fs::path dir = fs::temp_directory_path() / ("pellumar_test_" + std::to_string(getpid()) + "_" +
                                              std::to_string(std::rand()));
  fs::create_directories(dir);
  if (AWithAssets) fs::copy(fs::path(PELLUMAR_PATH).parent_path() / "assets", dir / "assets", fs::copy_options::recursive);
  return dir;
}

void RunsUntilSigterm(const char* AVideoDriver) {
  const fs::path dir = MakeFolder(true);
  const TProcess p = Start(dir, AVideoDriver);
  ASSERT_GT(p.Pid, 0);
  // Still running after its start (the first frames are drawn by then).
  const int early = WaitFor(p.Pid, 4);
  EXPECT_EQ(early, -1) << ReadFile(p.ErrFile);
  if (early != -1) return;
  kill(p.Pid, SIGTERM);
  // 2 s in a plain build; a sanitizer build's leak check at exit, with the other tests running
  // beside it on a loaded machine, has taken more than 10 s. A program ignoring the signal
  // still fails here.
  const int status = WaitFor(p.Pid, 30);
  if (status == -1) {
    kill(p.Pid, SIGKILL);
    waitpid(p.Pid, nullptr, 0);
    FAIL() << "pellumar still ran 30 s after SIGTERM";
  }
  ASSERT_TRUE(WIFEXITED(status)) << ReadFile(p.ErrFile);
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(p.ErrFile);
  const std::string err = ReadFile(p.ErrFile);
  EXPECT_NE(err.find("Quorvel3D TContextOpenGLWindows context registered"), std::string::npos) << err;
  fs::remove_all(dir);
}

TEST(DemoProgram, RunsHeadlessUntilSigtermEndsItWithExitCodeZero) {
  if (const std::string missing = testkit::DemoFormReadError(); !missing.empty())
    GTEST_SKIP() << "the form does not read yet: " << missing;
  RunsUntilSigterm("offscreen");
}

// Run by the next test inside xvfb-run, with SDL's x11 driver.
TEST(DemoProgram, DISABLED_InAnX11Window) { RunsUntilSigterm("x11"); }

TEST(DemoProgram, RunsInAnXvfbWindowUntilSigterm) {
  if (const std::string missing = testkit::DemoFormReadError(); !missing.empty())
    GTEST_SKIP() << "the form does not read yet: " << missing;
  if (!testkit::HasCommand("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const testkit::TChildRun run = testkit::RunSelf("xvfb-run -a", "DemoProgram.DISABLED_InAnX11Window --gtest_also_run_disabled_tests");
  EXPECT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Output;
}

TEST(DemoProgram, WithoutItsAssetsItFailsWithTheFileOpenError) {
  if (const std::string missing = testkit::DemoFormReadError(); !missing.empty())
    GTEST_SKIP() << "the form does not read yet: " << missing;
  const fs::path dir = MakeFolder(false);
  const TProcess p = Start(dir, "offscreen");
  ASSERT_GT(p.Pid, 0);
  const int status = WaitFor(p.Pid, 30);
  if (status == -1) {
    kill(p.Pid, SIGKILL);
    waitpid(p.Pid, nullptr, 0);
    FAIL() << "pellumar still ran without its assets";
  }
  const std::string err = ReadFile(p.ErrFile);
  ASSERT_TRUE(WIFEXITED(status)) << err;
  EXPECT_NE(WEXITSTATUS(status), 0) << err;
  EXPECT_NE(err.find("monkey.obj"), std::string::npos) << err;
  EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
  EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
