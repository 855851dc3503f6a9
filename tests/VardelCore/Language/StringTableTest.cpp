#include "StringTable.h"

#include "L.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    std::size_t placeholders(std::string_view text)
    {
        std::size_t count = 0;
        for (auto at = text.find("%@"); at != std::string_view::npos; at = text.find("%@", at + 2))
            ++count;
        return count;
    }

    TEST(StringTableTest, EveryKeyHasATextInEveryLanguageWithTheSamePlaceholdersAndTypography)
    {
        for (AppLanguage language : AppLanguage::allCases()) {
            EXPECT_EQ(L::all(language).size(), kKeyCount) << language.rawValue();
            for (const auto& [key, text] : L::all(language)) {
                SCOPED_TRACE(std::string(rawValue(key)) + " in " + std::string(language.rawValue()));
                ASSERT_FALSE(text.empty());
                EXPECT_EQ(placeholders(text), placeholders(L::all(AppLanguage::en).at(key)));
                // ASCII stand-ins or stray spaces: "..." for "…", straight quotes for “ ”, blanks at the
                // ends.
                EXPECT_EQ(text.find("..."), std::string::npos);
                EXPECT_EQ(text.find('"'), std::string::npos);
                EXPECT_EQ(text.find("  "), std::string::npos);
                EXPECT_TRUE(text.front() != ' ' && text.back() != ' ');
                for (auto at = text.find("·"); at != std::string::npos; at = text.find("·", at + 1))
                    EXPECT_EQ(text.substr(at - 1, 4), " · ") << "a middle dot needs its spaces";
            }
        }
    }

    TEST(StringTableTest, LaterRowsWinUnknownKeysAreIgnoredAndMissingTextsFallBackToEnglishThenTheKey)
    {
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

} // namespace
} // namespace vardel
