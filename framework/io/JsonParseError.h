#pragma once
// rapidjson's English text of a parse error, without its closing full stop (the messages
// that quote it go on after it).

#include <string>

#include <rapidjson/error/en.h>

namespace quorvel {

inline std::string ParseErrorText(rapidjson::ParseErrorCode code) {
  std::string s = rapidjson::GetParseError_En(code);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

}  // namespace quorvel
