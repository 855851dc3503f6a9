#include "L.h"
#include "StringTable.h"

#include <gtest/gtest.h>

#include <ranges>

using namespace vardel;
using namespace std::string_view_literals;

TEST(Language, LookupFillsPlaceholdersInOrderAndLanguageNamesAreReadStrictlyInOrder)
{
    L::setLanguage(AppLanguage::es);
    const std::string built = L::t(K::tgPhotoPerson, { "14:05" });
    L::setLanguage(AppLanguage::ptBR);
    EXPECT_EQ(built, "Persona detectada · 14:05") << "a text keeps the language it was built in";
    EXPECT_EQ(L::t(K::tgStarted, { "Brisko", "14:05" }), "Brisko: proteção ligada · 14:05");
    EXPECT_EQ(L::t(K::tgStarted, AppLanguage::en, { "Brisko", "14:05" }), "Brisko: protection on · 14:05");
    L::setLanguage(AppLanguage::en);

    EXPECT_EQ(L::t(K::tgStarted, AppLanguage::en, { "Brisko" }), "Brisko: protection on · "); // missing
    EXPECT_EQ(L::t(K::stOff, AppLanguage::en, { "surplus" }), "Unprotected.");
    // An inserted argument is never searched again.
    EXPECT_EQ(L::t(K::stateA11y, AppLanguage::en, { "%@", "b" }), "State: %@ b");
    const std::vector<std::string_view> args { "A", "B" };
    const std::pair<const char*, const char*> rows[] = { { "100% %d %s %%@%", "100% %d %s %A%" },
        { "%@%@", "AB" }, { "%", "%" }, { "", "" }, { "%@ and %@ and %@", "A and B and " } };
    for (auto [format, expected] : rows)
        EXPECT_EQ(L::format(format, args), expected) << format;

    for (AppLanguage language : AppLanguage::allCases())
        EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
    for (const char* raw : { "pt", "PT-BR", "pt-br", "EN", "en_US", "" })
        EXPECT_FALSE(AppLanguage::fromRawValue(raw).has_value()) << raw;
    for (K key : kAllKeys)
        EXPECT_EQ(keyFromRawValue(rawValue(key)), key) << rawValue(key);
    EXPECT_FALSE(keyFromRawValue("StOff").has_value());

    const std::pair<std::vector<std::string>, AppLanguage> preferred[] = {
        { { "de-DE", "es-MX", "pt-BR" }, AppLanguage::es },
        { { "PT-br" }, AppLanguage::ptBR },
        { { "pt-PT" }, AppLanguage::ptBR },
        { { "es-419" }, AppLanguage::es },
        { {}, AppLanguage::en },
        { { "", "fr_FR.UTF-8", "pt_BR.UTF-8" }, AppLanguage::ptBR },
        { { "EN", "es" }, AppLanguage::en },
    };
    for (const auto& [identifiers, expected] : preferred)
        EXPECT_EQ(AppLanguage::preferred(identifiers), expected) << testing::PrintToString(identifiers);
}

// A translation that loses a placeholder silently drops a name or a time from the message.
TEST(StringTableTest, EveryKeyHasATextWithTheSamePlaceholdersAndMissingTextsFallBack)
{
    const auto placeholders
        = [](std::string_view text) { return std::ranges::distance(std::views::split(text, "%@"sv)); };
    for (AppLanguage language : AppLanguage::allCases()) {
        EXPECT_EQ(L::all(language).size(), kKeyCount) << language.rawValue();
        for (const auto& [key, text] : L::all(language))
            EXPECT_EQ(placeholders(text), placeholders(L::all(AppLanguage::en).at(key))) << rawValue(key);
    }

    const TextRow english[] = { { K::stOff, "first" }, { K::stOff, "Unprotected." },
        { static_cast<K>(kKeyCount + 5), "out of range" } };
    const TextRow portuguese[] = { { K::stProblem, "Atenção." } };
    StringTable table(english, portuguese, {});
    EXPECT_EQ(table.all(AppLanguage::en), (std::map<K, std::string> { { K::stOff, "Unprotected." } }));
    EXPECT_EQ(table.text(K::stProblem, AppLanguage::ptBR), "Atenção.");
    EXPECT_EQ(table.text(K::stOff, AppLanguage::es), "Unprotected.");
    EXPECT_EQ(table.text(K::stProblem, AppLanguage::en), "stProblem");
    EXPECT_FALSE(table.exactText(K::stOff, AppLanguage::ptBR).has_value());
    EXPECT_TRUE(table.all(AppLanguage::es).empty());
}
