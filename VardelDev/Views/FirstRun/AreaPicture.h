#pragma once

#ifndef Q_MOC_RUN
#include "ROI.h"
#endif

#include <QImage>
#include <QWidget>

#include <optional>

namespace vardel {

// The camera picture fitted into the widget (letterboxed), with the watched area drawn over it. When
// editable, dragging draws a new area in the coordinates of the picture shown, clamped to it; `drawn`
// reports it on every move. Without a picture a dark field of the camera's aspect stands in. Main thread.
class AreaPicture final : public QWidget {
    Q_OBJECT

public:
    explicit AreaPicture(QWidget* parent = nullptr);

    void setPicture(QImage picture);
    // Aspect (width / height) of the field drawn while there is no picture.
    void setAspect(double aspect);
    // The area drawn over the picture; none draws nothing.
    void setArea(std::optional<ROI> area);
    void setEditable(bool editable);

    // Where the picture is drawn, in widget coordinates.
    QRectF pictureRect() const;

    QSize sizeHint() const override { return { 448, 252 }; }

signals:
    void drawn(vardel::ROI area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointF toPicture(QPointF point) const;

    QImage m_picture;
    double m_aspect = 16.0 / 9.0;
    std::optional<ROI> m_area;
    bool m_editable = false;
    std::optional<QPointF> m_dragStart;
};

} // namespace vardel
