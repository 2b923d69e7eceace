#pragma once
// A memory stream of a derived kind that counts what reaches it through Write.
#include <cstdint>

#include "framework/io/Stream.h"

namespace quorvel::testkit {

class TCountingStream : public TMemoryStream {
public:
  int64_t Written = 0;
  int64_t Write(const void* buffer, int64_t count) override {
    Written += count;
    return TMemoryStream::Write(buffer, count);
  }
};

}  // namespace quorvel::testkit
