#include "AppLanguage.h"

#include <algorithm>
#include <cctype>

namespace vardel {

namespace {

    struct LanguageInfo {
        std::string_view rawValue;
        std::string_view nativeName;
        std::string_view locale;
    };

    constexpr std::array<LanguageInfo, 3> kInfo = { {
        { "en", "English", "en_US" },
        { "pt-BR", "Português (Brasil)", "pt_BR" },
        { "es", "Español", "es_ES" },
    } };

    const LanguageInfo& info(AppLanguage language)
    {
        return kInfo[static_cast<std::size_t>(language.value())];
    }

    bool startsWithLowered(std::string_view identifier, std::string_view prefix)
    {
        if (identifier.size() < prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(identifier[i])) != prefix[i])
                return false;
        }
        return true;
    }

} // namespace

const std::array<AppLanguage, 3>& AppLanguage::allCases()
{
    static constexpr std::array<AppLanguage, 3> cases
        = { AppLanguage::en, AppLanguage::ptBR, AppLanguage::es };
    return cases;
}

std::optional<AppLanguage> AppLanguage::fromRawValue(std::string_view raw)
{
    for (AppLanguage language : allCases()) {
        if (info(language).rawValue == raw)
            return language;
    }
    return std::nullopt;
}

AppLanguage AppLanguage::preferred(const std::vector<std::string>& identifiers)
{
    for (const std::string& identifier : identifiers) {
        if (startsWithLowered(identifier, "pt"))
            return AppLanguage::ptBR;
        if (startsWithLowered(identifier, "es"))
            return AppLanguage::es;
        if (startsWithLowered(identifier, "en"))
            return AppLanguage::en;
    }
    return AppLanguage::en;
}

std::string_view AppLanguage::rawValue() const { return info(*this).rawValue; }

std::string_view AppLanguage::nativeName() const { return info(*this).nativeName; }

std::string_view AppLanguage::locale() const { return info(*this).locale; }

} // namespace vardel
