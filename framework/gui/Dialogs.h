#pragma once
// Message boxes. Headless (no display, the offscreen/dummy video driver, or CI set in the
// environment) they go to the debug log instead, so nothing ever blocks a test or a CI run.
#include <functional>
#include <string>

namespace quorvel {

void ShowMessage(const std::string& Msg);

// Replaces how ShowMessage shows its text (tests); an empty handler restores the default.
using TShowMessageHandler = std::function<void(const std::string& Msg)>;
TShowMessageHandler SetShowMessageHandler(TShowMessageHandler Handler);

// Whether messages go to the log instead of a window.
bool IsHeadless();

}  // namespace quorvel
