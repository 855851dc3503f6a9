#include "QrView.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vardel {

QrView::QrView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(120, 120);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QrView::setText(const std::string& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_code = text.empty() ? std::nullopt : QrCode::encode(text);
    update();
}

void QrView::paintEvent(QPaintEvent*)
{
    if (!m_code)
        return;
    const int modules = m_code->size() + 2 * kQuietZone;
    QImage symbol(modules, modules, QImage::Format_RGB32);
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x)
            symbol.setPixel(x, y, m_code->dark(x - kQuietZone, y - kQuietZone) ? 0xff000000 : 0xffffffff);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // Work in device pixels so that a module never straddles a pixel edge. The device transform knows the
    // scale of whatever is painted on (a screen, or an image the widget is rendered into).
    const QTransform toDevice = painter.deviceTransform();
    const double ratio = toDevice.m11() > 0 ? toDevice.m11() : devicePixelRatioF();
    const int room = static_cast<int>(std::floor(std::min(width(), height()) * ratio));
    const int module = std::max(1, room / modules);
    const double side = double(module * modules) / ratio;
    QPointF corner = toDevice.map(QPointF((width() - side) / 2, (height() - side) / 2));
    corner = toDevice.inverted().map(QPointF(std::floor(corner.x()), std::floor(corner.y())));
    painter.drawImage(QRectF(corner, QSizeF(side, side)), symbol);
}

} // namespace vardel
