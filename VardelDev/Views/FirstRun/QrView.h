#pragma once

#include "QrCode.h"

#include <QWidget>

#include <optional>
#include <string>

namespace vardel {

// Draws a QR code crisp: every module is a whole number of device pixels (also at fractional scale
// factors), black on white, with a quiet zone of four modules, centred in the widget. Main thread.
class QrView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kQuietZone = 4;

    explicit QrView(QWidget* parent = nullptr);

    // Encodes `text`; an empty or unencodable text draws nothing.
    void setText(const std::string& text);
    const std::string& text() const { return m_text; }
    const std::optional<QrCode>& code() const { return m_code; }

    QSize sizeHint() const override { return { 180, 180 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string m_text;
    std::optional<QrCode> m_code;
};

} // namespace vardel
