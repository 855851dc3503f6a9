#pragma once

// Finds texts a shown window cannot show whole: a label or button smaller than its text needs, and anything
// reaching past the window's right edge (windows scroll only vertically).

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardel::test {

inline bool labelFits(const QLabel& label)
{
    const QString text = label.text();
    if (text.isEmpty() || label.textFormat() == Qt::RichText || Qt::mightBeRichText(text))
        return true; // rich text lays itself out in its document; the layout gives it its size hint
    const QRect room = label.contentsRect();
    const QFontMetrics metrics(label.font());
    const QRect needed = label.wordWrap()
        ? metrics.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text)
        : metrics.boundingRect(QRect(0, 0, 100000, 100000), 0, text);
    return needed.width() <= room.width() && std::max(needed.height(), metrics.height()) <= room.height();
}

// Every visible widget under `top` that does not show its text whole, described as "name "text"".
inline std::vector<std::string> clippedTexts(const QWidget& top)
{
    std::vector<std::string> clipped;
    for (const QWidget* widget : top.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&top))
            continue;
        const auto* label = qobject_cast<const QLabel*>(widget);
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        const QString text = label ? label->text() : button ? button->text() : QString();
        const QSize needed = button && !text.isEmpty() ? button->sizeHint() : QSize();
        if ((label && !labelFits(*label)) || needed.width() > widget->width()
            || needed.height() > widget->height()
            || widget->mapTo(&top, QPoint(widget->width(), 0)).x() > top.width()) {
            const QString name = widget->objectName().isEmpty()
                ? QString::fromLatin1(widget->metaObject()->className())
                : widget->objectName();
            clipped.push_back(name.toStdString() + " \"" + text.toStdString() + "\"");
        }
    }
    return clipped;
}

// Expects every text of the shown `window` whole and keeps its picture as "screenshots/<name>.png".
inline void expectTextsWhole(QWidget& window, const std::string& name)
{
    EXPECT_EQ(clippedTexts(window), std::vector<std::string> {}) << name;
    const QString file = QString::fromStdString("screenshots/" + name + ".png");
    QDir().mkpath(QFileInfo(file).path());
    EXPECT_TRUE(window.grab().save(file, "PNG", 80)) << name; // light compression: quick to write
}

} // namespace vardel::test
