#include "AppLanguage.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    TEST(AppLanguageTest, RawValuesRoundTripAndNothingElseIsAccepted)
    {
        for (AppLanguage language : AppLanguage::allCases())
            EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
        EXPECT_EQ(AppLanguage::fromRawValue("pt-BR"), AppLanguage::ptBR);
        for (const char* raw : { "pt", "pt_BR", "PT-BR", "pt-br", "EN", "en_US", "es-ES", "", "ptBR" })
            EXPECT_FALSE(AppLanguage::fromRawValue(raw).has_value()) << raw;
    }

    TEST(AppLanguageTest, CasesAndTheirNamesAndLocalesAreInPickerOrder)
    {
        const auto& all = AppLanguage::allCases();
        ASSERT_EQ(all.size(), 3u);
        EXPECT_EQ(all[0], AppLanguage::en);
        EXPECT_EQ(all[1], AppLanguage::ptBR);
        EXPECT_EQ(all[2], AppLanguage::es);
        EXPECT_EQ(AppLanguage(AppLanguage::ptBR).nativeName(), "Português (Brasil)");
        EXPECT_EQ(AppLanguage(AppLanguage::es).nativeName(), "Español");
        EXPECT_EQ(AppLanguage(AppLanguage::en).locale(), "en_US");
        EXPECT_EQ(AppLanguage(AppLanguage::ptBR).locale(), "pt_BR");
        EXPECT_EQ(AppLanguage(AppLanguage::es).locale(), "es_ES");
    }

    struct PreferredCase {
        std::vector<std::string> identifiers;
        AppLanguage expected;
    };

    class PreferredTest : public ::testing::TestWithParam<PreferredCase> { };

    TEST_P(PreferredTest, FirstSupportedEntryWins)
    {
        EXPECT_EQ(AppLanguage::preferred(GetParam().identifiers), GetParam().expected);
    }

    INSTANTIATE_TEST_SUITE_P(Lists, PreferredTest,
        ::testing::Values(PreferredCase { { "de-DE", "es-MX", "pt-BR" }, AppLanguage::es },
            PreferredCase { { "PT-br" }, AppLanguage::ptBR },
            PreferredCase { { "pt-PT" }, AppLanguage::ptBR }, PreferredCase { { "es-419" }, AppLanguage::es },
            PreferredCase { { "fr" }, AppLanguage::en }, PreferredCase { {}, AppLanguage::en },
            PreferredCase { { "", "fr_FR.UTF-8", "en_GB" }, AppLanguage::en },
            PreferredCase { { "pt_BR.UTF-8", "en_US" }, AppLanguage::ptBR },
            PreferredCase { { "EN", "es" }, AppLanguage::en }));

} // namespace
} // namespace vardel
