#include "AreaPicture.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vardel {

AreaPicture::AreaPicture(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(256, 144);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void AreaPicture::setPicture(QImage picture)
{
    m_picture = std::move(picture);
    update();
}

void AreaPicture::setAspect(double aspect)
{
    if (aspect > 0 && aspect != m_aspect) {
        m_aspect = aspect;
        update();
    }
}

void AreaPicture::setArea(std::optional<ROI> area)
{
    if (area != m_area) {
        m_area = area;
        update();
    }
}

void AreaPicture::setEditable(bool editable)
{
    m_editable = editable;
    setCursor(editable ? Qt::CrossCursor : Qt::ArrowCursor);
    if (!editable)
        m_dragStart.reset();
}

QRectF AreaPicture::pictureRect() const
{
    const double aspect = m_picture.isNull() ? m_aspect : double(m_picture.width()) / m_picture.height();
    QSizeF size(width(), width() / aspect);
    if (size.height() > height())
        size = QSizeF(height() * aspect, height());
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QPointF AreaPicture::toPicture(QPointF point) const
{
    const QRectF frame = pictureRect();
    return { std::clamp((point.x() - frame.left()) / frame.width(), 0.0, 1.0),
        std::clamp((point.y() - frame.top()) / frame.height(), 0.0, 1.0) };
}

void AreaPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame = pictureRect();
    if (m_picture.isNull())
        painter.fillRect(frame, QColor(32, 34, 38));
    else
        painter.drawImage(frame, m_picture);
    if (!m_area)
        return;
    const QRectF area(frame.left() + m_area->x * frame.width(), frame.top() + m_area->y * frame.height(),
        m_area->w * frame.width(), m_area->h * frame.height());
    // Dim what is not watched, outline what is.
    QPainterPath outside;
    outside.addRect(frame);
    outside.addRect(area);
    painter.fillPath(outside, QColor(0, 0, 0, 110));
    painter.setPen(QPen(QColor(255, 179, 64), 2));
    painter.drawRect(area);
}

void AreaPicture::mousePressEvent(QMouseEvent* event)
{
    if (m_editable && event->button() == Qt::LeftButton)
        m_dragStart = toPicture(event->position());
}

void AreaPicture::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragStart)
        return;
    const QPointF end = toPicture(event->position());
    const QRectF drawnRect = QRectF(*m_dragStart, end).normalized();
    emit drawn(ROI { drawnRect.x(), drawnRect.y(), drawnRect.width(), drawnRect.height() });
}

void AreaPicture::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragStart && event->button() == Qt::LeftButton) {
        mouseMoveEvent(event);
        m_dragStart.reset();
    }
}

} // namespace vardel
