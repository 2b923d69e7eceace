// libFuzzer target for the skybox's configuration file: any bytes read into a configuration
// or raise an orderly error, and a configuration read once writes and reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/scene/SkyBox.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  TOwned<TBytesStream> stream(New<TBytesStream>());
  stream->WriteBuffer(data, static_cast<int64_t>(size));
  // Read from the middle too: the first bytes stand before the configuration.
  stream->SetPosition(size > 0 ? int64_t(data[0] % 4 == 0 ? 1 : 0) : 0);
  TSkyBoxShaderData first;
  try {
    first = TQuorvelSkyBox::ReadConfiguration(stream.get());
  } catch (const Exception&) {
    return 0;
  }
  if (stream->GetPosition() != stream->GetSize()) std::abort();
  TOwned<TBytesStream> written(New<TBytesStream>());
  TQuorvelSkyBox::WriteConfiguration(first, written.get());
  written->SetPosition(0);
  const TSkyBoxShaderData again = TQuorvelSkyBox::ReadConfiguration(written.get());
  if (std::memcmp(&first, &again, sizeof first) != 0) std::abort();
  return 0;
}
