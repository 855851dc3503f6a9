#pragma once

#include "AreaDrag.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace vardel {

class Model;

// The watched-area editor laid over the camera picture while the model's `editingArea` is on: a drag on
// a partial area moves it, any other drag draws a new one (AreaDrag's rules); Save stores the draft in
// reference coordinates, Whole view stores the whole image, Cancel drops the draft. Main thread.
class AreaEditor final : public QWidget {
    Q_OBJECT
public:
    AreaEditor(Model& model, QWidget* parent = nullptr);

    // Where the picture is fitted inside this widget, for the frame aspect the model reports.
    FrameGeometry::Rect videoRect() const;
    const AreaDrag& drag() const { return m_drag; }
    void retranslate();

    void save();
    void saveWholeImage();
    void cancel();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void close(bool keepEditing);

    Model& m_model;
    AreaDrag m_drag;
    std::optional<FrameGeometry::Point> m_start;
    QWidget* m_bar;
    QLabel* m_hint;
    QPushButton* m_whole;
    QPushButton* m_cancel;
    QPushButton* m_save;
};

} // namespace vardel
