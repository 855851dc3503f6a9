#include "L.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    // Restores the process-wide language after each test, whatever the test set.
    class LanguageTest : public ::testing::Test {
    protected:
        void TearDown() override { L::setLanguage(m_saved); }

    private:
        AppLanguage m_saved = L::language();
    };

    TEST_F(LanguageTest, LookupUsesTheCurrentLanguageUnlessOneIsGiven)
    {
        L::setLanguage(AppLanguage::es);
        const std::string built = L::t(K::tgPhotoPerson, { "14:05" });
        L::setLanguage(AppLanguage::ptBR);
        EXPECT_EQ(built, "Persona detectada · 14:05") << "a text keeps the language it was built in";
        EXPECT_EQ(L::t(K::tgStarted, { "Brisko", "14:05" }), "Brisko: proteção ligada · 14:05");
        EXPECT_EQ(
            L::t(K::tgStarted, AppLanguage::en, { "Brisko", "14:05" }), "Brisko: protection on · 14:05");
    }

    TEST(PlaceholderTest, ArgumentsFillPercentAtPlaceholdersStrictlyLeftToRight)
    {
        EXPECT_EQ(L::t(K::tgStarted, AppLanguage::en, { "Brisko" }), "Brisko: protection on · "); // missing
        EXPECT_EQ(L::t(K::stOff, AppLanguage::en, { "surplus" }), "Unprotected.");
        // An inserted argument is never searched again.
        EXPECT_EQ(L::t(K::stateA11y, AppLanguage::en, { "%@", "b" }), "State: %@ b");
        const std::vector<std::string_view> args { "A", "B" };
        const std::pair<const char*, const char*> rows[] = { { "100% %d %s %%@%", "100% %d %s %A%" },
            { "%@%@", "AB" }, { "%", "%" }, { "", "" }, { "%@ and %@ and %@", "A and B and " } };
        for (auto [format, expected] : rows)
            EXPECT_EQ(L::format(format, args), expected) << format;
    }

    TEST(AppLanguageTest, RawValuesAndKeyNamesRoundTripAndNothingElseIsAccepted)
    {
        for (AppLanguage language : AppLanguage::allCases())
            EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
        for (const char* raw : { "pt", "PT-BR", "pt-br", "EN", "en_US", "" })
            EXPECT_FALSE(AppLanguage::fromRawValue(raw).has_value()) << raw;
        for (K key : kAllKeys)
            EXPECT_EQ(keyFromRawValue(rawValue(key)), key) << rawValue(key);
        EXPECT_FALSE(keyFromRawValue("StOff").has_value());
    }

    struct PreferredCase {
        const char* name;
        std::vector<std::string> identifiers;
        AppLanguage expected;
    };

    class PreferredTest : public ::testing::TestWithParam<PreferredCase> { };

    TEST_P(PreferredTest, FirstSupportedEntryWins)
    {
        EXPECT_EQ(AppLanguage::preferred(GetParam().identifiers), GetParam().expected);
    }

    INSTANTIATE_TEST_SUITE_P(Lists, PreferredTest,
        ::testing::Values(PreferredCase { "firstSupported", { "de-DE", "es-MX", "pt-BR" }, AppLanguage::es },
            PreferredCase { "upperCase", { "PT-br" }, AppLanguage::ptBR },
            PreferredCase { "portugal", { "pt-PT" }, AppLanguage::ptBR },
            PreferredCase { "latinAmerica", { "es-419" }, AppLanguage::es },
            PreferredCase { "none", {}, AppLanguage::en },
            PreferredCase { "posixNames", { "", "fr_FR.UTF-8", "pt_BR.UTF-8" }, AppLanguage::ptBR },
            PreferredCase { "englishFirst", { "EN", "es" }, AppLanguage::en }),
        [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace vardel
