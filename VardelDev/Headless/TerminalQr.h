#pragma once

#include <string>

namespace vardel {

class QrCode;

// Draws a QR code in a terminal with half-block characters, two module rows per text line, inside the
// four-module quiet zone. Light modules are drawn lit and dark ones left blank, so it scans on the usual
// dark terminal background.
std::string terminalQr(const QrCode& code);

} // namespace vardel
