#include "QueueJob.h"

namespace vardel {

std::optional<QueueJob::Kind> QueueJob::kindFromRaw(std::string_view raw)
{
    if (raw == "text")
        return Kind::text;
    if (raw == "photo")
        return Kind::photo;
    if (raw == "video")
        return Kind::video;
    return std::nullopt;
}

std::string_view QueueJob::rawValue(Kind kind)
{
    switch (kind) {
    case Kind::text:
        return "text";
    case Kind::photo:
        return "photo";
    case Kind::video:
        return "video";
    }
    return "text";
}

} // namespace vardel
