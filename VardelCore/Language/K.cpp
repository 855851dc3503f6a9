#include "K.h"

#include <algorithm>

namespace vardel {

namespace {

    constexpr std::array<std::string_view, kKeyCount> kRawValues = {
#define VARDEL_TEXT_KEY_NAME(name) #name,
        VARDEL_TEXT_KEYS(VARDEL_TEXT_KEY_NAME)
#undef VARDEL_TEXT_KEY_NAME
    };

} // namespace

std::string_view rawValue(K key)
{
    auto index = static_cast<std::size_t>(key);
    return index < kRawValues.size() ? kRawValues[index] : std::string_view {};
}

std::optional<K> keyFromRawValue(std::string_view raw)
{
    auto found = std::find(kRawValues.begin(), kRawValues.end(), raw);
    if (found == kRawValues.end())
        return std::nullopt;
    return static_cast<K>(found - kRawValues.begin());
}

} // namespace vardel
