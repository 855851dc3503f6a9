#include "Settings.h"
#include "L.h"
#include "SensitivityLevel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vardel;
using json = nlohmann::json;

namespace {

// Every field away from its default; the stored sensitivity is not bounded (only the policy clamps it) and
// group chats have large negative ids.
Settings fullySet()
{
    return { .camera = "Câmera HD (USB)",
        .roi = { 0.1, 0.2, 0.3, 0.4 },
        .sensitivity = -3,
        .pixelThreshold = 30,
        .triggerFrames = 5,
        .cooldown = 120,
        .preSeconds = 2,
        .postSeconds = 20,
        .chatID = -1001234567890123,
        .chatLabel = "Ana",
        .chatConfirmed = true,
        .detectionMode = DetectionMode::motion,
        .language = AppLanguage::ptBR };
}

TEST(Settings, RoundTripsEveryFieldInASortedFileWithoutNulls)
{
    EXPECT_EQ(Settings::decode(fullySet().encode()), fullySet());
    const std::string text = fullySet().encode();
    EXPECT_LT(text.find("\"camera\""), text.find("\"chat_confirmed\""));
    EXPECT_LT(text.find("\"pre_s\""), text.find("\"trigger_frames\""));
    EXPECT_NE(text.find("\n  \"language\": \"pt-BR\",\n"), std::string::npos);
    EXPECT_EQ(json::parse(text)["roi"], json::parse("[0.1, 0.2, 0.3, 0.4]"));

    const std::string defaults = Settings().encode();
    for (const char* absent : { "null", "chat_id", "chat_label", "language" })
        EXPECT_EQ(defaults.find(absent), std::string::npos) << absent;
    EXPECT_EQ(Settings::decode(defaults), Settings());
    // Absent, null and unknown keys keep the defaults; 8.0 is an integer.
    Settings expected;
    expected.sensitivity = 8;
    EXPECT_EQ(
        Settings::decode(R"({"sensitivity": 8.0, "chat_id": null, "roi": null, "other": [1]})"), expected);
}

// Every other key holds a valid, non-default value; the one bad key must still cost all of them.
TEST(Settings, AValueOfTheWrongTypeFailsTheWholeDecodeButABadModeOrLanguageIsDroppedAlone)
{
    const std::pair<const char*, const char*> rows[]
        = { { "camera", "5" }, { "roi", "[0, 0, 1]" }, { "sensitivity", "\"8\"" }, { "sensitivity", "8.5" },
              { "cooldown_s", "1e20" }, { "pre_s", "4294967296" }, { "pre_s", "-2147483649" },
              { "post_s", "-1e300" }, { "trigger_frames", "-2147483649.0" }, { "chat_id", "\"42\"" },
              { "chat_id", "18446744073709551615" }, { "chat_confirmed", "1" } };
    for (auto [key, value] : rows) {
        json object = json::parse(fullySet().encode());
        object[key] = json::parse(value);
        EXPECT_THROW(Settings::fromJSON(object), json::exception) << key << ": " << value;
    }

    Settings expected = fullySet();
    expected.detectionMode = DetectionMode::person, expected.language.reset();
    for (const char* bad : { "\"face\"", "3", "\"Motion\"" }) {
        json object = json::parse(fullySet().encode());
        object["detection_mode"] = object["language"] = json::parse(bad);
        EXPECT_EQ(Settings::fromJSON(object), expected) << bad;
    }
    EXPECT_NO_THROW(Settings::decode(Settings { .camera = "cam\xff" }.encode())) << "not UTF-8: still saved";
}

TEST(Settings, MonitorBlockerUntilAChatIsStoredAndConfirmedInTheCurrentLanguage)
{
    const AppLanguage saved = L::language();
    L::setLanguage(AppLanguage::es);
    Settings noChat = fullySet(), unconfirmed = fullySet();
    noChat.chatID.reset(), unconfirmed.chatConfirmed = false;
    for (const Settings& s : { noChat, unconfirmed })
        EXPECT_EQ(s.monitorBlocker(), L::t(K::blockNoTelegram, AppLanguage::es));
    L::setLanguage(saved);
    EXPECT_FALSE(fullySet().monitorBlocker());
}

TEST(SensitivityLevel, ShowsStoredValuesWritesLevelValuesAndRoundsSlidersHalfAwayFromZero)
{
    const std::pair<double, SensitivityLevel> shown[]
        = { { -3, SensitivityLevel::low }, { 5, SensitivityLevel::low }, { 5.01, SensitivityLevel::normal },
              { 7.99, SensitivityLevel::normal }, { 8, SensitivityLevel::high } };
    for (const auto& [stored, level] : shown)
        EXPECT_EQ(sensitivityLevel(stored), level) << stored;
    for (SensitivityLevel level : allSensitivityLevels)
        EXPECT_EQ(sensitivityLevel(sensitivityValue(level)), level);
    const std::pair<double, int> rows[] = { { 6.5, 7 }, { 6.49, 6 }, { -0.5, -1 },
        { 1e12, std::numeric_limits<int>::max() }, { std::nan(""), 6 } };
    for (auto [slider, stored] : rows)
        EXPECT_EQ(roundedSensitivity(slider), stored) << slider;
}

} // namespace
