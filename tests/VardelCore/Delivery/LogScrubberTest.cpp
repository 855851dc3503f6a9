#include "LogScrubber.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

using namespace vardel;

namespace {

const std::string kToken = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsaw";

TEST(LogScrubber, MasksEveryFormOfTheKnownSecretAndTokensGluedToText)
{
    const std::string text = "POST https://api.telegram.org/bot" + kToken + "/sendPhoto failed; body token="
        + "123456789%3AAAHdqTcvCH1vGWJxfSeofSAs0K5PALDsaw and 123456789%3aAAHdqTcvCH1vGWJxfSeofSAs0K5PALDsaw";
    EXPECT_EQ(LogScrubber::scrub(text, kToken),
        "POST https://api.telegram.org/bot<token>/sendPhoto failed; body token=<token> and <token>");
    // Not token-shaped, so only the known-secret pass can catch it, including its fully encoded form.
    EXPECT_EQ(LogScrubber::scrub("a=ab:c d, b=ab%3Ac, c=ab%3ac, d=x%2By", "ab:c"),
        "a=<token> d, b=<token>, c=<token>, d=x%2By");
    EXPECT_EQ(LogScrubber::scrub("q=x%2By%20z", "x+y z"), "q=<token>");
    EXPECT_EQ(LogScrubber::scrub("nothing here", ""), "nothing here");
    EXPECT_EQ(LogScrubber::scrub("bot98765432:" + std::string(30, 'a') + "/getMe"), "bot<token>/getMe");
    EXPECT_EQ(LogScrubber::scrub(std::string(2'000'000, '7') + ":" + std::string(40, 'k')), "<token>");
}

// The scanner for unknown tokens must agree with the pattern it replaces; std::regex is the reference on
// short texts, which catch the boundaries (digit count, tail length, both colon encodings).
TEST(LogScrubber, AgreesWithTheRegularExpressionOnRandomTexts)
{
    const std::regex pattern(R"(\d{5,}(?::|%3[Aa])[A-Za-z0-9_-]{30,})");
    const std::string alphabet = "0123456789::%3Aa_-xZ ";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 120);
        // Runs of one character class make token shapes likely enough to matter.
        while (static_cast<int>(text.size()) < length) {
            const char c = alphabet[random() % alphabet.size()];
            text.append(1 + random() % 12, c == '3' ? static_cast<char>('0' + random() % 10) : c);
            if (random() % 5 == 0)
                text += "%3" + std::string(1, random() % 2 ? 'A' : 'a');
        }
        ASSERT_EQ(LogScrubber::scrub(text), std::regex_replace(text, pattern, "<token>")) << text;
    }
}

} // namespace
