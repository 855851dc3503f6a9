#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vardel {

// A QR code symbol as a square of modules, for drawing on screen or in a terminal. Medium error
// correction, the smallest version that holds the text, 8-bit mode (links and codes are ASCII).
class QrCode {
public:
    // None when the text does not fit in any version or cannot be encoded.
    static std::optional<QrCode> encode(const std::string& text);

    // Modules per side, without the quiet zone.
    int size() const { return m_size; }
    // Out of range reads as light, so callers can draw the quiet zone with the same call.
    bool dark(int x, int y) const;

private:
    QrCode(int size, std::vector<bool> modules) : m_size(size), m_modules(std::move(modules)) { }

    int m_size = 0;
    std::vector<bool> m_modules;
};

} // namespace vardel
