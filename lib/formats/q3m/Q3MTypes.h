#pragma once
// The fixed 32-byte header of a model file: tag, version, time stamp, body format and options.
#include <cstdint>

#include "framework/rtl/DateTime.h"

namespace quorvel {

class TStream;

enum class TQuorvelQ3MFormat : uint32_t { BSONFormat = 0, JSONFormat = 1 };

// Bit (1 << value) of the options byte; None is never written.
enum class TQuorvelQ3MOption : uint8_t { None, Zipped, Beautified, FastestCompression, MaxCompression };

struct TQuorvelQ3MOptions {
  uint8_t Bits = 0;
  bool Has(TQuorvelQ3MOption o) const noexcept { return Bits & (1u << unsigned(o)); }
  void Set(TQuorvelQ3MOption o, bool on) noexcept {
    Bits = on ? uint8_t(Bits | (1u << unsigned(o))) : uint8_t(Bits & ~(1u << unsigned(o)));
  }
  bool operator==(const TQuorvelQ3MOptions&) const = default;
};

struct TQuorvelQ3MHeader {
  static constexpr int Size = 32;
  char Exporter[10] = {};
  uint32_t Version = 0;
  TDateTime Timestamp;
  TQuorvelQ3MFormat Format = TQuorvelQ3MFormat::BSONFormat;
  TQuorvelQ3MOptions Options;

  // Tag "Quorvel3D ", version 4, now; Options becomes [Zipped] only when AZipped.
  void Create(bool AZipped, TQuorvelQ3MFormat AFormat);
  // Little endian, padding zero.
  void WriteTo(TStream* AStream) const;
  // Raises "invalid Q3M header" when fewer than 32 bytes are left.
  void ReadFrom(TStream* AStream);
};

}  // namespace quorvel
