#include "KeychainToken.h"

#include "FakeClock.h"
#include "Log.h"
#include "MemorySecretStore.h"
#include "OutboxFolder.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

// Counts reads, and can be told to refuse writes like a locked keyring.
class CountingStore final : public SecretStore {
public:
    std::optional<std::string> read() override
    {
        ++reads;
        return memory.read();
    }
    void write(const std::string& value) override
    {
        if (refuse)
            throw std::runtime_error("keyring is locked");
        memory.write(value);
    }
    MemorySecretStore memory;
    int reads = 0;
    bool refuse = false;
};

const std::string kToken = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ";

class KeychainTokenTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setSecret(std::nullopt); }
    void TearDown() override { Log::setSecret(std::nullopt); }

    std::shared_ptr<CountingStore> store = std::make_shared<CountingStore>();
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    KeychainToken token { store, clock };
};

// A locked keyring may prompt the user at every read: a read that found nothing waits a minute.
TEST_F(KeychainTokenTest, AStoreThatFoundNothingIsAskedAgainAfterAMinute)
{
    store->memory.write("");
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    store->memory.write(kToken);
    clock->advance(59);
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    EXPECT_EQ(store->reads, 1);
    EXPECT_FALSE(Log::secret());

    clock->advance(1);
    EXPECT_EQ(token.get(), kToken);
    EXPECT_EQ(store->reads, 2);

    KeychainToken stepped(store, clock);
    store->memory.write("");
    EXPECT_THROW(stepped.get(), KeychainToken::Missing);
    clock->advance(-10);
    EXPECT_THROW(stepped.get(), KeychainToken::Missing);
    EXPECT_EQ(store->reads, 4) << "a clock set back counts as time passed";
}

TEST_F(KeychainTokenTest, ReadOrSavedTokenIsCachedAndBecomesTheLogSecret)
{
    EXPECT_THROW(token.get(), KeychainToken::Missing);
    token.save(kToken);
    EXPECT_EQ(token.get(), kToken) << "a save ends the wait after a failed read";
    EXPECT_EQ(store->reads, 1);
    EXPECT_EQ(Log::secret(), kToken);

    KeychainToken fresh(store, clock);
    EXPECT_EQ(fresh.get(), kToken);
    store->memory.write("");
    EXPECT_EQ(fresh.get(), kToken) << "cached for the life of the process";
    EXPECT_EQ(store->reads, 2);

    store->refuse = true;
    EXPECT_THROW(fresh.save("222222:other-token"), std::runtime_error);
    EXPECT_EQ(fresh.get(), kToken);
    EXPECT_EQ(Log::secret(), kToken);
}

TEST_F(KeychainTokenTest, TokenReadFromTheStoreNeverReachesTheLogFile)
{
    test::OutboxFolder folder;
    store->memory.write(kToken);
    {
        Log log(folder.root());
        token.get();
        log.info("bot: falhou " + kToken + " e 123456789%3AAAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ");
    }
    const std::string text = test::OutboxFolder::read(folder.root() / "app.log");
    EXPECT_EQ(text.find("AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ"), std::string::npos) << text;
    EXPECT_NE(text.find("bot: falhou <token> e <token>"), std::string::npos) << text;
}

} // namespace
