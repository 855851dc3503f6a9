// The settings file, which a user may edit by hand: decoding either fails with a JSON error (the store
// then falls back to the defaults) or gives settings that survive a save and a load unchanged.
#include "FuzzSupport.h"
#include "Settings.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    Settings settings;
    try {
        settings = Settings::decode(fuzz::text(data, size));
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    const std::string saved = settings.encode();
    Settings loaded;
    try {
        loaded = Settings::decode(saved);
    } catch (const nlohmann::json::exception&) {
        fuzz::require(false, "settings that loaded cannot be loaded again after a save");
    }
    fuzz::require(loaded == settings, "settings change through a save and a load");
    return 0;
}
