#pragma once
// URL encoding of the run-time (TNetEncoding.URL): ASCII letters, digits and ! $ ' ( ) * - . _ @
// stay, a blank becomes "+", every other byte of the UTF-8 form becomes "%XX" (upper case).
#include <string>
#include <string_view>

namespace quorvel {

class TURLEncoding {
public:
  static std::string Encode(std::string_view text);
  // "+" gives a blank, "%%" gives "%", "%XX" gives that byte; the bytes are read as UTF-8.
  // A "%" without two hexadecimal digits, or bytes that are not UTF-8, raise EEncodingError.
  static std::string Decode(std::string_view text);
};

class TNetEncoding {
public:
  static const TURLEncoding& URL() {
    static const TURLEncoding e;
    return e;
  }
};

}  // namespace quorvel
