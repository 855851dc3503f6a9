#include "BotPhoto.h"

#include <QFile>

// Resources of a static library register only when something refers to them.
static void registerBotPhoto() { Q_INIT_RESOURCE(BotPhoto); }

namespace vardel {

std::optional<std::string> botPhotoJPEG()
{
    static const bool registered = (registerBotPhoto(), true);
    (void)registered;
    QFile file(QStringLiteral(":/BotPhoto.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace vardel
