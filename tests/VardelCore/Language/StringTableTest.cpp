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

    // A translation that loses a placeholder silently drops a name or a time from the message.
    TEST(StringTableTest, EveryKeyHasATextInEveryLanguageWithTheSamePlaceholders)
    {
        for (AppLanguage language : AppLanguage::allCases()) {
            EXPECT_EQ(L::all(language).size(), kKeyCount) << language.rawValue();
            for (const auto& [key, text] : L::all(language))
                EXPECT_EQ(placeholders(text), placeholders(L::all(AppLanguage::en).at(key))) << rawValue(key);
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
