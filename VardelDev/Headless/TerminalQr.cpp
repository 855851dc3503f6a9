#include "TerminalQr.h"

#include "QrCode.h"

namespace vardel {

std::string terminalQr(const QrCode& code)
{
    constexpr int kQuiet = 4;
    // Indexed by (top light) * 2 + (bottom light).
    static const char* const kCells[] = { " ", "\u2584", "\u2580", "\u2588" };
    std::string text;
    for (int y = -kQuiet; y < code.size() + kQuiet; y += 2) {
        for (int x = -kQuiet; x < code.size() + kQuiet; ++x)
            text += kCells[(code.dark(x, y) ? 0 : 2) + (code.dark(x, y + 1) ? 0 : 1)];
        text += '\n';
    }
    return text;
}

} // namespace vardel
