#include "KeychainToken.h"

#include "FakeClock.h"
#include "Log.h"
#include "SecretStore.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

// Hands out what it holds, and can refuse writes like a locked keyring.
class Store final : public SecretStore {
public:
    std::optional<std::string> read() override { return value; }
    void write(const std::string& token) override
    {
        if (locked)
            throw std::runtime_error("keyring is locked");
        value = token;
    }
    std::optional<std::string> value;
    bool locked = false;
};

const std::string kToken = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ";

class KeychainTokenTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setSecret(std::nullopt); }
    void TearDown() override { Log::setSecret(std::nullopt); }

    std::shared_ptr<Store> store = std::make_shared<Store>();
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    KeychainToken token { store, clock };
};

// A locked keyring may prompt the user at every read: a read that found nothing waits a minute.
TEST_F(KeychainTokenTest, AStoreThatFoundNothingIsAskedAgainAfterAMinuteOrAClockSetBack)
{
    store->value = "";
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    store->value = kToken;
    clock->advance(59);
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    EXPECT_FALSE(Log::secret());
    clock->advance(1);
    EXPECT_EQ(token.get(), kToken);
    EXPECT_EQ(Log::secret(), kToken) << "a token read becomes the log secret";

    auto other = std::make_shared<Store>();
    KeychainToken stepped(other, clock);
    EXPECT_THROW(stepped.get(), KeychainToken::Missing);
    other->value = kToken;
    clock->advance(-10);
    EXPECT_EQ(stepped.get(), kToken) << "a clock set back counts as time passed";
}

TEST_F(KeychainTokenTest, ATokenReadOrSavedIsKeptForTheProcessAndAFailedSaveChangesNothing)
{
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    token.save(kToken);
    store->value.reset();
    EXPECT_EQ(token.get(), kToken) << "a save ends the wait after a failed read";
    EXPECT_EQ(Log::secret(), kToken);

    store->value = kToken;
    KeychainToken fresh(store, clock);
    EXPECT_EQ(fresh.get(), kToken);
    store->value = "";
    EXPECT_EQ(fresh.get(), kToken) << "cached for the life of the process";
    store->locked = true;
    EXPECT_THROW(fresh.save("222222:other-token"), std::runtime_error);
    EXPECT_EQ(fresh.get(), kToken);
    EXPECT_EQ(Log::secret(), kToken);
}

} // namespace
