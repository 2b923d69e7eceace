// Replays fuzz inputs without libFuzzer: every file named on the command line, and every
// file below every directory named, goes once through LLVMFuzzerTestOneInput, in name order.
// A crash or sanitizer report ends the run as it would end a fuzzing run; an exception that
// leaves the target fails it too (targets catch only their layer's clean failures). An empty
// corpus fails: every target keeps seeds.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (fs::is_regular_file(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "replay: no such file or directory: %s\n", argv[i]);
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    try {
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "replay: %s: exception left the target: %s\n", file.c_str(), e.what());
      return 1;
    } catch (...) {
      std::fprintf(stderr, "replay: %s: unknown exception left the target\n", file.c_str());
      return 1;
    }
  }
  // No finalisations: a libFuzzer run ends without them, so what the units hold at the end
  // must not read as a leak here either.
  std::printf("replay: %zu inputs, no failure\n", files.size());
  return 0;
}
