#include "Settings.h"
#include "L.h"
#include "SensitivityLevel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vardel;
using json = nlohmann::json;

namespace {

Settings fullySet()
{
    Settings s;
    s.camera = "Câmera HD (USB)";
    s.roi = { 0.1, 0.2, 0.3, 0.4 };
    s.sensitivity = 8;
    s.pixelThreshold = 30;
    s.triggerFrames = 5;
    s.cooldown = 120;
    s.preSeconds = 2;
    s.postSeconds = 20;
    s.chatID = -1001234567890123; // group chats have large negative ids
    s.chatLabel = "Ana";
    s.chatConfirmed = true;
    s.detectionMode = DetectionMode::motion;
    s.language = AppLanguage::ptBR;
    return s;
}

TEST(Settings, DefaultsAreThoseOfAFreshInstallation)
{
    const Settings s;
    EXPECT_EQ(s.camera, "");
    EXPECT_EQ(s.roi, ROI::full());
    EXPECT_EQ(
        std::tie(s.sensitivity, s.pixelThreshold, s.triggerFrames, s.cooldown, s.preSeconds, s.postSeconds),
        std::make_tuple(6, 25, 3, 60, 4, 10));
    EXPECT_FALSE(s.chatID);
    EXPECT_FALSE(s.chatLabel);
    EXPECT_FALSE(s.chatConfirmed);
    EXPECT_EQ(s.detectionMode, DetectionMode::person);
    EXPECT_FALSE(s.language);
    EXPECT_EQ(Settings::decode("{}"), s);
}

TEST(Settings, EncodesSortedPrettyAndWithoutNulls)
{
    const std::string text = Settings().encode();
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(text.find("chat_id"), std::string::npos);
    EXPECT_EQ(text.find("chat_label"), std::string::npos);
    EXPECT_EQ(text.find("language"), std::string::npos);
    EXPECT_NE(text.find("\n  \"camera\": \"\",\n"), std::string::npos);

    const json object = json::parse(fullySet().encode());
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items())
        keys.push_back(key);
    EXPECT_EQ(keys,
        (std::vector<std::string> { "camera", "chat_confirmed", "chat_id", "chat_label", "cooldown_s",
            "detection_mode", "language", "pixel_threshold", "post_s", "pre_s", "roi", "sensitivity",
            "trigger_frames" }));
    EXPECT_EQ(object["roi"], json::parse("[0.1, 0.2, 0.3, 0.4]"));
    EXPECT_EQ(object["language"], "pt-BR");
    EXPECT_EQ(object["detection_mode"], "motion");
    // Text order must follow the keys too, not just the parsed object.
    EXPECT_LT(fullySet().encode().find("\"camera\""), fullySet().encode().find("\"chat_confirmed\""));
}

TEST(Settings, RoundTripsEveryField)
{
    EXPECT_EQ(Settings::decode(fullySet().encode()), fullySet());
    EXPECT_EQ(Settings::decode(Settings().encode()), Settings());
}

TEST(Settings, KeepsDefaultsForAbsentOrNullKeys)
{
    Settings expected;
    expected.sensitivity = 8;
    EXPECT_EQ(Settings::decode(R"({"sensitivity": 8})"), expected);
    EXPECT_EQ(
        Settings::decode(R"({"sensitivity": 8.0, "chat_id": null, "roi": null, "other": [1]})"), expected);
}

struct WrongType {
    const char* key;
    const char* value;
};

class SettingsWrongType : public testing::TestWithParam<WrongType> { };

// Every other key holds a valid, non-default value; the one bad key must still cost all of them.
TEST_P(SettingsWrongType, FailsTheWholeDecode)
{
    json object = json::parse(fullySet().encode());
    object[GetParam().key] = json::parse(GetParam().value);
    EXPECT_THROW(Settings::fromJSON(object), json::exception);
}

INSTANTIATE_TEST_SUITE_P(Keys, SettingsWrongType,
    testing::Values(WrongType { "camera", "5" }, WrongType { "roi", "[0, 0, 1]" },
        WrongType { "roi", "\"all\"" }, WrongType { "sensitivity", "\"8\"" },
        WrongType { "sensitivity", "8.5" }, WrongType { "sensitivity", "true" },
        WrongType { "pixel_threshold", "[25]" }, WrongType { "trigger_frames", "{}" },
        WrongType { "cooldown_s", "1e20" }, WrongType { "pre_s", "4294967296" },
        WrongType { "post_s", "-1e300" }, WrongType { "chat_id", "\"42\"" },
        WrongType { "chat_id", "18446744073709551615" }, WrongType { "chat_label", "7" },
        WrongType { "chat_confirmed", "1" }, WrongType { "chat_confirmed", "\"true\"" }));

TEST(Settings, UnreadableModeOrLanguageIsDroppedAlone)
{
    for (const char* bad : { "\"face\"", "3", "[\"motion\"]", "\"Motion\"" }) {
        SCOPED_TRACE(bad);
        json object = json::parse(fullySet().encode());
        object["detection_mode"] = json::parse(bad);
        object["language"] = json::parse(bad);
        Settings expected = fullySet();
        expected.detectionMode = DetectionMode::person;
        expected.language.reset();
        EXPECT_EQ(Settings::fromJSON(object), expected);
    }
}

TEST(Settings, CameraNameThatIsNotUtf8StillEncodes)
{
    Settings s;
    s.camera = "cam\xff";
    EXPECT_NO_THROW(Settings::decode(s.encode()));
}

struct BlockerCase {
    std::optional<std::int64_t> chatID;
    bool confirmed;
    bool blocked;
};

class MonitorBlocker : public testing::TestWithParam<BlockerCase> { };

TEST_P(MonitorBlocker, BlocksUntilAChatIsStoredAndConfirmed)
{
    Settings s;
    s.chatID = GetParam().chatID;
    s.chatConfirmed = GetParam().confirmed;
    const auto blocker = s.monitorBlocker();
    EXPECT_EQ(blocker.has_value(), GetParam().blocked);
    if (blocker) {
        EXPECT_EQ(*blocker, L::t(K::blockNoTelegram));
    }
}

INSTANTIATE_TEST_SUITE_P(Chats, MonitorBlocker,
    testing::Values(BlockerCase { std::nullopt, false, true }, BlockerCase { std::nullopt, true, true },
        BlockerCase { 42, false, true }, BlockerCase { 42, true, false }));

TEST(MonitorBlocker, SpeaksTheCurrentLanguage)
{
    const AppLanguage saved = L::language();
    L::setLanguage(AppLanguage::es);
    const auto blocker = Settings().monitorBlocker();
    L::setLanguage(saved);
    EXPECT_EQ(blocker, L::t(K::blockNoTelegram, AppLanguage::es));
    EXPECT_NE(blocker, L::t(K::blockNoTelegram, AppLanguage::en));
}

TEST(SensitivityLevel, ShowsStoredValuesAndWritesLevelValues)
{
    const std::pair<double, SensitivityLevel> shown[]
        = { { -3, SensitivityLevel::low }, { 5, SensitivityLevel::low }, { 5.01, SensitivityLevel::normal },
              { 7, SensitivityLevel::normal }, { 7.99, SensitivityLevel::normal },
              { 8, SensitivityLevel::high }, { 9, SensitivityLevel::high }, { 40, SensitivityLevel::high } };
    for (const auto& [stored, level] : shown)
        EXPECT_EQ(sensitivityLevel(stored), level) << stored;
    for (SensitivityLevel level : allSensitivityLevels)
        EXPECT_EQ(sensitivityLevel(sensitivityValue(level)), level);
    EXPECT_EQ(sensitivityValue(SensitivityLevel::low), 4);
    EXPECT_EQ(labelKey(SensitivityLevel::high), K::setHigh);
}

TEST(SensitivityLevel, RoundsSliderValuesHalfAwayFromZero)
{
    EXPECT_EQ(roundedSensitivity(6.5), 7);
    EXPECT_EQ(roundedSensitivity(6.49), 6);
    EXPECT_EQ(roundedSensitivity(-0.5), -1);
    EXPECT_EQ(roundedSensitivity(1e12), std::numeric_limits<int>::max());
    EXPECT_EQ(roundedSensitivity(std::nan("")), 6);
}

} // namespace
