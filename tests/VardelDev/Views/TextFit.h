#pragma once

// Finds texts a window cannot show whole: a label whose text runs past its width (or, when it wraps, past
// its height), a button or check box narrower or lower than its text needs. Lay the window out and show it
// (offscreen is fine) before asking.

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <string>
#include <vector>

namespace vardel::test {

inline std::string describe(const QWidget* widget, const QString& text)
{
    const QString name = widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                                        : widget->objectName();
    return name.toStdString() + " \"" + text.toStdString() + "\"";
}

inline bool labelFits(const QLabel& label)
{
    const QString text = label.text();
    if (text.isEmpty() || label.textFormat() == Qt::RichText || Qt::mightBeRichText(text))
        return true; // rich text lays itself out in its document; the layout gives it its size hint
    const QRect room = label.contentsRect();
    const QFontMetrics metrics(label.font());
    if (!label.wordWrap())
        return metrics.boundingRect(QRect(0, 0, 100000, 100000), 0, text).width() <= room.width()
            && metrics.height() <= room.height();
    const QRect needed = metrics.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text);
    return needed.width() <= room.width() && needed.height() <= room.height();
}

inline bool buttonFits(const QAbstractButton& button)
{
    if (button.text().isEmpty())
        return true;
    const QSize needed = button.sizeHint();
    return needed.width() <= button.width() && needed.height() <= button.height();
}

// Every visible label and button under `top` whose text does not fit, described as "name "text"".
inline std::vector<std::string> clippedTexts(const QWidget& top)
{
    std::vector<std::string> clipped;
    for (const QLabel* label : top.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&top) && !labelFits(*label))
            clipped.push_back(describe(label, label->text()));
    }
    for (const QAbstractButton* button : top.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&top) && !buttonFits(*button))
            clipped.push_back(describe(button, button->text()));
    }
    return clipped;
}

} // namespace vardel::test
