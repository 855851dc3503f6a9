#include "StatusHeader.h"

#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vardel {

StatusHeader::StatusHeader(QWidget* parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_title(new QLabel(this))
    , m_subtitle(new QLabel(this))
{
    m_symbol->setObjectName("headerSymbol");
    m_title->setObjectName("headerTitle");
    m_subtitle->setObjectName("headerSubtitle");
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    m_title->setFont(titleFont);
    // A failure text can carry a camera's name: never read it as markup.
    m_title->setTextFormat(Qt::PlainText);
    m_subtitle->setTextFormat(Qt::PlainText);
    m_subtitle->setWordWrap(true);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    lines->addWidget(m_title);
    lines->addWidget(m_subtitle);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_symbol, 0, Qt::AlignTop);
    row->addLayout(lines, 1);
}

void StatusHeader::present(const StatusPresentation& presentation)
{
    if (presentation == m_shown && !m_title->text().isEmpty())
        return;
    m_shown = presentation;
    const QColor colour = Symbols::toneColour(presentation.tone, palette().color(QPalette::WindowText));
    m_symbol->setPixmap(Symbols::pixmap(presentation.symbol, colour, 36, devicePixelRatioF()));
    m_title->setText(QString::fromStdString(presentation.title));
    QPalette titlePalette = m_title->palette();
    titlePalette.setColor(QPalette::WindowText, colour);
    m_title->setPalette(titlePalette);
    m_subtitle->setText(QString::fromStdString(presentation.subtitle));
    setAccessibleName(QString::fromStdString(presentation.accessibilityLabel()));
}

} // namespace vardel
