#include "CameraStage.h"

#include "AreaEditor.h"
#include "FrameGeometry.h"
#include "L.h"
#include "Model.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace vardel {

namespace {
    // Frames come at most every 0.095 s; polling a little slower never shows one twice.
    constexpr int kPullMs = 100;
    const QColor kPersonColour = QColor::fromRgbF(1.0f, 0.7f, 0.25f);
}

CameraStage::CameraStage(Model& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_badge(new QLabel(this))
    , m_note(new QLabel(this))
    , m_off(new QLabel(this))
    , m_show(new QPushButton(this))
    , m_editor(new AreaEditor(model, this))
{
    setObjectName("cameraStage");
    setMinimumSize(480, 270);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_badge->setObjectName("cameraBadge");
    m_note->setObjectName("cameraNote");
    m_off->setObjectName("cameraOff");
    m_show->setObjectName("cameraShow");
    for (QLabel* label : { m_badge, m_note, m_off }) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
    }
    m_note->setWordWrap(true);
    m_badge->setStyleSheet("background: rgba(0,0,0,150); color: white; border-radius: 4px; padding: 2px 8px;");
    m_off->setStyleSheet("color: #c8c8c8;");
    m_note->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_editor->hide();

    connect(m_show, &QPushButton::clicked, &m_model, &Model::togglePreview);
    connect(&m_picture, &LivePicture::changed, this, qOverload<>(&QWidget::update));
    connect(&m_pull, &QTimer::timeout, this, &CameraStage::pull);
    m_pull.setInterval(kPullMs);
    retranslate();
}

void CameraStage::retranslate()
{
    m_off->setText(QString::fromStdString(L::t(K::camOff)));
    m_show->setText(QString::fromStdString(L::t(K::camShow)));
    m_badge->setText(QString::fromStdString(L::t(m_mode == Mode::monitor ? K::camLive : K::camPreview)));
    m_editor->retranslate();
    const bool person = m_spotlight && m_mode != Mode::off;
    setAccessibleName(QString::fromStdString(L::t(m_mode == Mode::off ? K::a11yCamOff
            : person                                                  ? K::a11yCamLivePerson
                                                                      : K::a11yCamLive)));
}

void CameraStage::refresh(const StatusLines& lines, Mode mode, bool personVisible)
{
    const bool modeChanged = mode != m_mode;
    m_mode = mode;
    m_spotlight = personVisible && !m_model.editingArea();
    const bool on = mode != Mode::off;
    m_off->setVisible(!on);
    m_show->setVisible(!on);
    m_badge->setVisible(on);
    m_note->setVisible(on && lines.note != StatusLines::Note::none);
    m_note->setText(QString::fromStdString(lines.noteText));
    m_note->setStyleSheet(lines.note == StatusLines::Note::personChip
            ? "background: rgba(255,179,64,230); color: black; border-radius: 10px; padding: 3px 10px;"
            : "background: rgba(0,0,0,160); color: white; border-radius: 6px; padding: 6px 10px;");
    m_editor->setVisible(on && m_model.editingArea());
    if (modeChanged && !on)
        m_picture.clear();
    retranslate();
    placeOverlays();
    updateTimer();
    update();
}

void CameraStage::pull()
{
    const QRect video = videoRect();
    m_picture.offer(m_model.latestFrame(), video.size() * devicePixelRatioF());
}

void CameraStage::updateTimer()
{
    const bool wanted = isVisible() && m_mode != Mode::off;
    if (wanted && !m_pull.isActive())
        m_pull.start();
    else if (!wanted)
        m_pull.stop();
}

QRect CameraStage::videoRect() const
{
    const auto rect = FrameGeometry::videoRect({ double(width()), double(height()) }, m_model.frameAspect());
    return QRectF(rect.x, rect.y, rect.width, rect.height).toAlignedRect();
}

void CameraStage::placeOverlays()
{
    const QRect video = videoRect().isEmpty() ? rect() : videoRect();
    m_editor->setGeometry(rect());
    m_badge->adjustSize();
    m_badge->move(video.left() + 10, video.top() + 10);
    // One line when it fits, wrapped to the picture's width otherwise (padding and border included).
    const int oneLine = m_note->fontMetrics().horizontalAdvance(m_note->text()) + 2 * 12;
    const int noteWidth = qMax(qMin(oneLine, video.width() - 20), 0);
    m_note->setFixedWidth(noteWidth);
    m_note->setFixedHeight(m_note->heightForWidth(noteWidth) > 0 ? m_note->heightForWidth(noteWidth)
                                                                  : m_note->sizeHint().height());
    m_note->move(video.left() + 10, video.bottom() - m_note->height() - 10);
    m_off->adjustSize();
    m_show->adjustSize();
    const int gap = 10;
    const int total = m_off->height() + gap + m_show->height();
    m_off->move((width() - m_off->width()) / 2, (height() - total) / 2);
    m_show->move((width() - m_show->width()) / 2, m_off->y() + m_off->height() + gap);
}

void CameraStage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(rect(), 10, 10);
    painter.fillPath(frame, QColor(24, 24, 26));
    if (m_mode == Mode::off)
        return;
    const QRect video = videoRect();
    const QImage& image = m_picture.image();
    if (!image.isNull()) {
        painter.save();
        painter.setClipPath(frame);
        painter.drawImage(QRectF(video), image);
        painter.restore();
    }
    // The watched area, when only part of the picture is watched (the editor draws its own).
    const ROI area = m_model.currentROI();
    if (!m_model.editingArea() && !m_model.roi().isFull()) {
        painter.setPen(QPen(QColor(255, 255, 255, 200), 1.5, Qt::DashLine));
        painter.drawRect(QRectF(video.x() + area.x * video.width(), video.y() + area.y * video.height(),
            area.w * video.width(), area.h * video.height()));
    }
    if (m_spotlight) {
        painter.setPen(QPen(kPersonColour, 3));
        for (const PersonBox& box : m_model.personBoxes())
            painter.drawRoundedRect(QRectF(video.x() + box.x * video.width(), video.y() + box.y * video.height(),
                                        box.w * video.width(), box.h * video.height()),
                6, 6);
    }
}

void CameraStage::resizeEvent(QResizeEvent*) { placeOverlays(); }

void CameraStage::showEvent(QShowEvent*)
{
    updateTimer();
    pull();
}

void CameraStage::hideEvent(QHideEvent*) { updateTimer(); }

} // namespace vardel
