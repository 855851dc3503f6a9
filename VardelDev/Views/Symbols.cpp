#include "Symbols.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library register only when something refers to them.
static void registerIcons() { Q_INIT_RESOURCE(Icons); }

namespace vardel::Symbols {

namespace {

    QString resource(std::string_view name)
    {
        static const bool registered = (registerIcons(), true);
        (void)registered;
        return QStringLiteral(":/Icons/") + QString::fromUtf8(name.data(), qsizetype(name.size()))
            + QStringLiteral(".svg");
    }

    const QColor kProtecting = QColor::fromRgbF(0.1f, 0.66f, 0.58f);
    const QColor kDetected = QColor::fromRgbF(1.0f, 0.7f, 0.25f);
    const QColor kProblem = QColor(0xd7, 0x26, 0x1e);

} // namespace

bool exists(std::string_view name) { return QFile::exists(resource(name)); }

QPixmap pixmap(std::string_view name, const QColor& colour, int size, qreal pixelRatio)
{
    QSvgRenderer renderer(resource(exists(name) ? name : "video"));
    const int device = qMax(1, qRound(size * pixelRatio));
    QPixmap image(device, device);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, device, device));
    // Keep the symbol's shape (alpha), replace its colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    painter.end();
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

std::string_view traySymbol(MenuBarState state) { return state == MenuBarState::off ? "dog" : "dog.fill"; }

QColor trayColour(MenuBarState state, const QColor& text)
{
    switch (state) {
    case MenuBarState::protecting:
        return kProtecting;
    case MenuBarState::detected:
        return kDetected;
    case MenuBarState::problem:
        return kProblem;
    case MenuBarState::off:
    case MenuBarState::preview:
        break;
    }
    return text;
}

QColor toneColour(StatusPresentation::Tone tone, const QColor& text)
{
    using Tone = StatusPresentation::Tone;
    switch (tone) {
    case Tone::protected_:
        return kProtecting;
    case Tone::person:
    case Tone::motion:
        return kDetected;
    case Tone::problem:
        return kProblem;
    case Tone::starting:
        return QColor(0x3b, 0x82, 0xc4);
    case Tone::off:
    case Tone::preview:
        break;
    }
    return text;
}

} // namespace vardel::Symbols
