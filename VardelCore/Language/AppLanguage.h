#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// One of the three interface languages. A small value type: `AppLanguage::ptBR` converts implicitly,
// `value()` gives the enumerator for a switch, and the raw value ("en", "pt-BR", "es") is the form
// stored in the settings. Comparisons and hashing follow the declaration order.
class AppLanguage {
public:
    enum Value { en, ptBR, es };

    constexpr AppLanguage(Value value)
        : m_value(value)
    {
    }

    // The three languages in picker order.
    static const std::array<AppLanguage, 3>& allCases();

    // Accepts exactly "en", "pt-BR" and "es".
    static std::optional<AppLanguage> fromRawValue(std::string_view raw);

    // The first entry of the system's preferred list (most preferred first) that is any Portuguese,
    // Spanish or English variant decides; English when none is.
    static AppLanguage preferred(const std::vector<std::string>& identifiers);

    constexpr Value value() const { return m_value; }
    std::string_view rawValue() const;
    // The language's name written in that language ("Português (Brasil)").
    std::string_view nativeName() const;
    // ICU/CLDR locale identifier of every date and time text ("en_US", "pt_BR", "es_ES").
    std::string_view locale() const;

    friend constexpr bool operator==(AppLanguage, AppLanguage) = default;
    friend constexpr auto operator<=>(AppLanguage, AppLanguage) = default;

private:
    Value m_value;
};

} // namespace vardel

template <> struct std::hash<vardel::AppLanguage> {
    std::size_t operator()(vardel::AppLanguage language) const noexcept
    {
        return static_cast<std::size_t>(language.value());
    }
};
