#include "QrCode.h"

#include <qrencode.h>

#include <memory>

namespace vardel {

std::optional<QrCode> QrCode::encode(const std::string& text)
{
    std::unique_ptr<QRcode, decltype(&QRcode_free)> symbol(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
            QR_ECLEVEL_M),
        QRcode_free);
    if (!symbol || symbol->width <= 0)
        return std::nullopt;
    const int size = symbol->width;
    std::vector<bool> modules(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < modules.size(); ++i)
        modules[i] = (symbol->data[i] & 1) != 0; // the lowest bit is the module's colour
    return QrCode(size, std::move(modules));
}

bool QrCode::dark(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_size || y >= m_size)
        return false;
    return m_modules[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_size) + static_cast<std::size_t>(x)];
}

} // namespace vardel
