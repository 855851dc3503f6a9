#pragma once

#include "LivePicture.h"
#include "StatusLines.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace vardel {

class AreaEditor;
class Model;

// The camera picture of the main window: the latest frame scaled to fit (fetched at most every 0.1 s, about
// the camera's own rate, and only while the camera runs and the stage is visible), the people of the last
// detection outlined for 10 s, the person chip or the format note, the watched area, and the area editor
// over all of it. Main thread; the conversion runs on LivePicture's queue.
class CameraStage final : public QWidget {
    Q_OBJECT
public:
    explicit CameraStage(Model& model, QWidget* parent = nullptr);

    // Applies the note and the visibility of the picture's parts for `lines` and the model's mode;
    // `personVisible` outlines the people of the last detection.
    void refresh(const StatusLines& lines, Mode mode, bool personVisible);
    void retranslate();

    AreaEditor& editor() { return *m_editor; }
    LivePicture& picture() { return m_picture; }
    // Fetches the latest frame now (normally done by the stage's timer).
    void pull();

    QSize sizeHint() const override { return { 640, 360 }; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();
    void placeOverlays();
    QRect videoRect() const;

    Model& m_model;
    LivePicture m_picture;
    QTimer m_pull;
    Mode m_mode = Mode::off;
    bool m_spotlight = false;
    QLabel* m_badge;
    QLabel* m_note;
    QLabel* m_off;
    QPushButton* m_show;
    AreaEditor* m_editor;
};

} // namespace vardel
