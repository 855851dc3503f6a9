#include "BotFatherDemo.h"

#include "L.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vardel {

BotFatherDemo::BotFatherDemo(std::string username, QWidget* parent)
    : QFrame(parent)
    , m_column(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("botFatherDemo"));
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(
        QStringLiteral("#botFatherDemo { background: #dfe8ef; border-radius: 8px; }"
                       "QLabel[bubble=\"botfather\"] { background: white; border-radius: 8px; padding: 6px; }"
                       "QLabel[bubble=\"you\"] { background: #d5f5c4; border-radius: 8px; padding: 6px; }"
                       "QLabel { color: #1b1f23; }"));
    m_lines = { { false, K::demoName, "/newbot" }, { true, K::demoAskName, {} }, { false, K::demoName, {} },
        { true, K::demoAskUser, {} }, { false, K::demoUser, std::move(username) },
        { true, K::demoDone, {} } };
    for (Line& line : m_lines) {
        line.row = new QWidget;
        auto* row = new QHBoxLayout(line.row);
        row->setContentsMargins(0, 0, 0, 0);
        auto* bubble = new QWidget;
        auto* inside = new QVBoxLayout(bubble);
        inside->setContentsMargins(0, 0, 0, 0);
        inside->setSpacing(0);
        line.sender = new QLabel;
        line.bubble = new QLabel;
        for (QLabel* label : { line.sender, line.bubble }) {
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            inside->addWidget(label);
        }
        QFont small = line.sender->font();
        small.setBold(true);
        line.sender->setFont(small);
        line.bubble->setProperty("bubble", line.fromBotFather ? "botfather" : "you");
        line.bubble->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // BotFather speaks from the left, the user from the right; a bubble takes at most four fifths.
        if (!line.fromBotFather)
            row->addStretch(1);
        row->addWidget(bubble, 4);
        if (line.fromBotFather)
            row->addStretch(1);
        line.row->hide();
        m_column->addWidget(line.row);
    }
    m_column->addStretch(1);
    m_timer.setInterval(kStepMs);
    connect(&m_timer, &QTimer::timeout, this, &BotFatherDemo::showNext);
    retext(m_language);
}

void BotFatherDemo::start()
{
    for (Line& line : m_lines)
        line.row->hide();
    m_shown = 0;
    showNext();
    m_timer.start();
}

void BotFatherDemo::showAll()
{
    while (m_shown < length())
        showNext();
}

void BotFatherDemo::showNext()
{
    if (m_shown < length())
        m_lines[static_cast<std::size_t>(m_shown++)].row->show();
    if (m_shown == length())
        m_timer.stop();
}

void BotFatherDemo::retext(AppLanguage language)
{
    m_language = language;
    for (Line& line : m_lines) {
        line.sender->setText(
            QString::fromStdString(L::t(line.fromBotFather ? K::demoBotFather : K::demoYou, language)));
        line.bubble->setText(
            QString::fromStdString(line.literal.empty() ? L::t(line.text, language) : line.literal));
    }
}

void BotFatherDemo::mousePressEvent(QMouseEvent*) { showAll(); }

} // namespace vardel
