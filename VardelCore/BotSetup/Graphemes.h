#pragma once

#include <string>

namespace vardel {

// The first `count` user-perceived characters of UTF-8 `text` (a flag or an accented letter counts once),
// for length limits set in characters rather than bytes. Any thread.
std::string graphemePrefix(const std::string& text, int count);

} // namespace vardel
