#pragma once
// Shared by the fuzz targets (tests/fuzz/<name>_fuzz.cpp) in both of their builds: the
// libFuzzer programs and the replay driver that runs every corpus under CTest.
#include <cstddef>
#include <cstdint>

namespace quorvel::fuzz {

// Runs the unit initialisations once per process (the class registry, stream formats),
// as a program's start-up would. Call at the top of LLVMFuzzerTestOneInput.
void InitializeOnce();
// The finalisations, for a driver that ends the units itself. Neither libFuzzer nor the replay
// driver does: what the units hold at exit must be freed with the static objects that hold it.
void FinalizeIfInitialized();

}  // namespace quorvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
