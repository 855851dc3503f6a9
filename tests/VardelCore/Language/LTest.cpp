#include "L.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vardel {
namespace {

    // Restores the process-wide language after each test, whatever the test set.
    class LanguageTest : public ::testing::Test {
    protected:
        void SetUp() override { m_saved = L::language(); }
        void TearDown() override { L::setLanguage(m_saved); }

    private:
        AppLanguage m_saved = AppLanguage::en;
    };

    TEST_F(LanguageTest, LookupUsesTheCurrentLanguageAndExplicitLanguageOverridesIt)
    {
        L::setLanguage(AppLanguage::en);
        EXPECT_EQ(L::t(K::stOff), "Unprotected.");
        L::setLanguage(AppLanguage::ptBR);
        EXPECT_EQ(L::language(), AppLanguage::ptBR);
        EXPECT_EQ(L::t(K::tgStarted, { "Brisko", "14:05" }), "Brisko: proteção ligada · 14:05");
        EXPECT_EQ(L::t(K::tgStarted, AppLanguage::es, { "Brisko", "14:05" }),
            "Brisko: protección activada · 14:05");
        EXPECT_EQ(L::t(K::ntSaveFailed, AppLanguage::en, std::vector<std::string> { "disk full" }),
            "Couldn't save: disk full");
    }

    TEST_F(LanguageTest, ATextBuiltBeforeALanguageChangeKeepsItsLanguage)
    {
        L::setLanguage(AppLanguage::es);
        std::string built = L::t(K::tgPhotoPerson, { "14:05" });
        L::setLanguage(AppLanguage::en);
        EXPECT_EQ(built, "Persona detectada · 14:05");
        EXPECT_EQ(L::t(K::tgPhotoPerson, { "14:05" }), "Person detected · 14:05");
    }

    TEST(PlaceholderTest, ArgumentsFillPlaceholdersStrictlyLeftToRight)
    {
        // Missing arguments leave the placeholder empty.
        EXPECT_EQ(L::t(K::tgStarted, AppLanguage::en, { "Brisko" }), "Brisko: protection on · ");
        // Surplus arguments are ignored.
        EXPECT_EQ(L::t(K::stOff, AppLanguage::en, { "surplus" }), "Unprotected.");
        // An inserted argument is never searched again.
        EXPECT_EQ(L::t(K::ntSaveFailed, AppLanguage::en, { "50%@" }), "Couldn't save: 50%@");
        EXPECT_EQ(L::t(K::stateA11y, AppLanguage::en, { "%@", "b" }), "State: %@ b");
    }

    TEST(PlaceholderTest, OnlyPercentAtIsADirective)
    {
        std::vector<std::string_view> args { "A", "B" };
        EXPECT_EQ(L::format("100% %d %s %%@%", args), "100% %d %s %A%");
        EXPECT_EQ(L::format("%@%@", args), "AB");
        EXPECT_EQ(L::format("%", args), "%");
        EXPECT_EQ(L::format("", args), "");
        EXPECT_EQ(L::format("%@ and %@ and %@", args), "A and B and ");
    }

    TEST(KeyTest, RawValueIsTheCaseName)
    {
        EXPECT_EQ(rawValue(K::stateA11y), "stateA11y");
        EXPECT_EQ(rawValue(K::stOff), "stOff");
        EXPECT_EQ(rawValue(K::obNotNow), "obNotNow");
        EXPECT_EQ(kAllKeys.front(), K::stateA11y);
        EXPECT_EQ(kAllKeys.back(), K::obNotNow);
        for (K key : kAllKeys)
            EXPECT_EQ(keyFromRawValue(rawValue(key)), key) << rawValue(key);
        EXPECT_FALSE(keyFromRawValue("StOff").has_value());
        EXPECT_FALSE(keyFromRawValue("").has_value());
    }

    TEST_F(LanguageTest, ConcurrentReadersSeeOnlyWholeLanguages)
    {
        // Readers on other threads while the main thread switches; every text must be one of the
        // three complete translations (run under TSan to catch unlocked access).
        std::atomic<bool> stop { false };
        std::atomic<int> bad { 0 };
        std::vector<std::thread> readers;
        for (int i = 0; i < 2; ++i) {
            readers.emplace_back([&] {
                while (!stop.load()) {
                    std::string text = L::t(K::stOff);
                    if (text != "Unprotected." && text != "Desprotegido.")
                        ++bad;
                }
            });
        }
        for (int i = 0; i < 2000; ++i)
            L::setLanguage(i % 2 ? AppLanguage::ptBR : AppLanguage::en);
        stop = true;
        for (auto& reader : readers)
            reader.join();
        EXPECT_EQ(bad.load(), 0);
    }

} // namespace
} // namespace vardel
