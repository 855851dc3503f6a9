#include "StringTable.h"

#include "L.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vardel {
namespace {

    std::size_t placeholderCount(std::string_view text)
    {
        std::size_t count = 0;
        for (auto at = text.find("%@"); at != std::string_view::npos; at = text.find("%@", at + 2))
            ++count;
        return count;
    }

    TEST(StringTableTest, EveryKeyHasATextInEveryLanguageWithTheSamePlaceholders)
    {
        const StringTable& table = StringTable::builtIn();
        for (K key : kAllKeys) {
            auto english = table.exactText(key, AppLanguage::en);
            ASSERT_TRUE(english.has_value()) << rawValue(key);
            for (AppLanguage language : AppLanguage::allCases()) {
                auto text = table.exactText(key, language);
                ASSERT_TRUE(text.has_value()) << rawValue(key) << " in " << language.rawValue();
                EXPECT_FALSE(text->empty()) << rawValue(key) << " in " << language.rawValue();
                EXPECT_EQ(placeholderCount(*text), placeholderCount(*english))
                    << rawValue(key) << " in " << language.rawValue();
            }
        }
        for (AppLanguage language : AppLanguage::allCases())
            EXPECT_EQ(L::all(language).size(), kKeyCount) << language.rawValue();
    }

    TEST(StringTableTest, TextsFollowTheTableTypography)
    {
        // Catches texts pasted with ASCII stand-ins or stray spaces: "..." instead of "…", straight
        // double quotes instead of “ ”, a middle dot without its spaces, or leading/trailing blanks.
        for (AppLanguage language : AppLanguage::allCases()) {
            for (const auto& [key, text] : L::all(language)) {
                SCOPED_TRACE(std::string(rawValue(key)) + " in " + std::string(language.rawValue()));
                EXPECT_EQ(text.find("..."), std::string::npos);
                EXPECT_EQ(text.find('"'), std::string::npos);
                EXPECT_EQ(text.find("  "), std::string::npos);
                EXPECT_NE(text.front(), ' ');
                EXPECT_NE(text.back(), ' ');
                for (auto at = text.find("·"); at != std::string::npos; at = text.find("·", at + 1)) {
                    ASSERT_GT(at, 0u);
                    EXPECT_EQ(text[at - 1], ' ');
                    EXPECT_EQ(text.substr(at + std::string("·").size(), 1), " ");
                }
            }
        }
    }

    TEST(StringTableTest, LaterRowsOfAListReplaceEarlierOnesAndUnknownKeysAreIgnored)
    {
        const TextRow english[] = { { K::stOff, "first" }, { K::stOff, "second" },
            { static_cast<K>(kKeyCount + 5), "out of range" } };
        StringTable table(english, {}, {});
        EXPECT_EQ(table.text(K::stOff, AppLanguage::en), "second");
        EXPECT_EQ(table.all(AppLanguage::en).size(), 1u);
    }

    TEST(StringTableTest, AMissingTextFallsBackToEnglishThenToTheKeyName)
    {
        const TextRow english[] = { { K::stOff, "Unprotected." } };
        const TextRow portuguese[] = { { K::stProblem, "Atenção." } };
        StringTable table(english, portuguese, {});

        EXPECT_EQ(table.text(K::stProblem, AppLanguage::ptBR), "Atenção.");
        EXPECT_EQ(table.text(K::stOff, AppLanguage::ptBR), "Unprotected.");
        EXPECT_EQ(table.text(K::stOff, AppLanguage::es), "Unprotected.");
        EXPECT_EQ(table.text(K::stProblem, AppLanguage::en), "stProblem");
        EXPECT_EQ(table.text(K::obNotNow, AppLanguage::es), "obNotNow");
        EXPECT_FALSE(table.exactText(K::stOff, AppLanguage::ptBR).has_value());
        EXPECT_EQ(table.all(AppLanguage::ptBR), (std::map<K, std::string> { { K::stProblem, "Atenção." } }));
        EXPECT_TRUE(table.all(AppLanguage::es).empty());
    }

} // namespace
} // namespace vardel
