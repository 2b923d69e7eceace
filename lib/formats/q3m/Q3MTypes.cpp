#include "lib/formats/q3m/Q3MTypes.h"

#include <cstring>

#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {
template <class T>
void Put(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);  // the engine only runs on little-endian machines
}
template <class T>
T Get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
}  // namespace

void TQuorvelQ3MHeader::Create(bool AZipped, TQuorvelQ3MFormat AFormat) {
  std::memcpy(Exporter, "Quorvel3D ", 10);
  Version = 4;
  Timestamp = Now();
  Format = AFormat;
  if (AZipped) Options = TQuorvelQ3MOptions{uint8_t(1u << unsigned(TQuorvelQ3MOption::Zipped))};
}

void TQuorvelQ3MHeader::WriteTo(TStream* AStream) const {
  uint8_t b[Size] = {};
  std::memcpy(b, Exporter, 10);
  Put(b + 12, Version);
  Put(b + 16, Timestamp.Value);
  Put(b + 24, uint32_t(Format));
  b[28] = uint8_t(Options.Bits & ~1u);
  AStream->WriteBuffer(b, Size);
}

void TQuorvelQ3MHeader::ReadFrom(TStream* AStream) {
  uint8_t b[Size];
  if (AStream->Read(b, Size) != Size) throw Exception("invalid Q3M header");
  std::memcpy(Exporter, b, 10);
  Version = Get<uint32_t>(b + 12);
  Timestamp = TDateTime(Get<double>(b + 16));
  Format = TQuorvelQ3MFormat(Get<uint32_t>(b + 24));
  Options.Bits = b[28];
}

}  // namespace quorvel
