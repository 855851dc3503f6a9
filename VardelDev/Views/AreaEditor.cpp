#include "AreaEditor.h"

#include "L.h"
#include "Model.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace vardel {

namespace {

    FrameGeometry::Point point(const QMouseEvent* event)
    {
        return { event->position().x(), event->position().y() };
    }

    QRectF qRect(const FrameGeometry::Rect& rect) { return { rect.x, rect.y, rect.width, rect.height }; }

} // namespace

AreaEditor::AreaEditor(Model& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_bar(new QWidget(this))
    , m_hint(new QLabel(m_bar))
    , m_whole(new QPushButton(m_bar))
    , m_cancel(new QPushButton(m_bar))
    , m_save(new QPushButton(m_bar))
{
    setObjectName("areaEditor");
    m_hint->setObjectName("areaHint");
    m_whole->setObjectName("areaWhole");
    m_cancel->setObjectName("areaCancel");
    m_save->setObjectName("areaSave");
    m_hint->setWordWrap(true);
    m_save->setDefault(true);
    m_bar->setAutoFillBackground(true);

    auto* row = new QHBoxLayout(m_bar);
    row->addWidget(m_hint, 1);
    row->addWidget(m_whole);
    row->addWidget(m_cancel);
    row->addWidget(m_save);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addStretch(1);
    column->addWidget(m_bar);

    connect(m_save, &QPushButton::clicked, this, &AreaEditor::save);
    connect(m_whole, &QPushButton::clicked, this, &AreaEditor::saveWholeImage);
    connect(m_cancel, &QPushButton::clicked, this, &AreaEditor::cancel);
    retranslate();
}

void AreaEditor::retranslate()
{
    setAccessibleName(QString::fromStdString(L::t(K::a11yAreaEditor)));
    m_hint->setText(QString::fromStdString(L::t(K::editDrag)));
    m_whole->setText(QString::fromStdString(L::t(K::editWhole)));
    m_cancel->setText(QString::fromStdString(L::t(K::cancel)));
    m_save->setText(QString::fromStdString(L::t(K::editSave)));
}

FrameGeometry::Rect AreaEditor::videoRect() const
{
    return FrameGeometry::videoRect({ double(width()), double(height()) }, m_model.frameAspect());
}

void AreaEditor::save()
{
    const ROI drawn = m_drag.shown(m_model.currentROI());
    const ROI reference = FrameGeometry::referenceROI(drawn, m_model.frameAspect());
    m_model.saveReferenceROI(reference);
    // A refused or unsaved area keeps the editor open with the draft, and the model's notice says why.
    close(m_model.roi() != reference);
}

void AreaEditor::saveWholeImage()
{
    m_model.saveReferenceROI(ROI::full());
    close(!m_model.roi().isFull());
}

void AreaEditor::cancel() { close(false); }

void AreaEditor::close(bool keepEditing)
{
    if (keepEditing)
        return;
    m_drag.clearDraft();
    m_start.reset();
    m_model.setEditingArea(false);
    update();
}

void AreaEditor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_start = point(event);
}

void AreaEditor::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_start || (!AreaDrag::isDrag(*m_start, point(event)) && !m_drag.moveFrom()))
        return;
    m_drag.change(*m_start, point(event), m_model.currentROI(), videoRect());
    update();
}

void AreaEditor::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_start.reset();
    m_drag.end();
}

void AreaEditor::paintEvent(QPaintEvent*)
{
    const FrameGeometry::Rect video = videoRect();
    if (video.width <= 0 || video.height <= 0)
        return;
    const QRectF area = qRect(AreaDrag::screenRect(m_drag.shown(m_model.currentROI()), video));
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outside;
    outside.addRect(qRect(video));
    outside.addRect(area);
    painter.fillPath(outside, QColor(0, 0, 0, 110));
    painter.setPen(QPen(Qt::white, 2));
    painter.drawRect(area.adjusted(1, 1, -1, -1));
}

} // namespace vardel
