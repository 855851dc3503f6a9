#pragma once

#include <optional>
#include <string>

namespace vardel {

// The JPEG bytes of the bot's profile picture, built into the application; none if the resource is
// missing. Any thread.
std::optional<std::string> botPhotoJPEG();

} // namespace vardel
