#include "KeychainToken.h"
#include "Log.h"
#include "MemorySecretStore.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
    std::atomic<int> reads = 0;
    bool refuse = false;
};

const std::string kToken = "123456789:AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ";

class KeychainTokenTest : public ::testing::Test {
protected:
    void SetUp() override { Log::setSecret(std::nullopt); }
    void TearDown() override { Log::setSecret(std::nullopt); }

    std::shared_ptr<CountingStore> m_store = std::make_shared<CountingStore>();
    KeychainToken m_token { m_store };
};

} // namespace

TEST_F(KeychainTokenTest, MissingOrEmptyTokenFailsAndIsNotCached)
{
    EXPECT_THROW(m_token.get(), KeychainToken::Missing);
    m_store->memory.write("");
    EXPECT_THROW(m_token.get(), KeychainToken::Missing);
    EXPECT_FALSE(Log::secret());

    // Stored later (by another run of the program): the next get finds it.
    m_store->memory.write(kToken);
    EXPECT_EQ(m_token.get(), kToken);
    EXPECT_EQ(m_store->reads, 3);
}

TEST_F(KeychainTokenTest, ReadOrSavedTokenIsCachedAndBecomesTheLogSecret)
{
    m_store->memory.write(kToken);
    EXPECT_EQ(m_token.get(), kToken);
    // Deleted outside the program: the cached token stays for the life of the process.
    m_store->memory.write("");
    EXPECT_EQ(m_token.get(), kToken);
    EXPECT_EQ(m_store->reads, 1);
    EXPECT_EQ(Log::secret(), kToken);

    KeychainToken fresh(m_store);
    fresh.save("222222:saved-token");
    EXPECT_EQ(fresh.get(), "222222:saved-token");
    EXPECT_EQ(m_store->reads, 1) << "a saved token is served without reading the store";
    EXPECT_EQ(Log::secret(), "222222:saved-token");
}

TEST_F(KeychainTokenTest, RefusedSaveChangesNothing)
{
    m_token.save("111111:first-token-aaaaaaaaaaaaaaaaaaaaaaaaaa");
    m_store->refuse = true;
    EXPECT_THROW(m_token.save(kToken), std::runtime_error);
    EXPECT_EQ(m_token.get(), "111111:first-token-aaaaaaaaaaaaaaaaaaaaaaaaaa");
    EXPECT_EQ(Log::secret(), "111111:first-token-aaaaaaaaaaaaaaaaaaaaaaaaaa");
}

TEST_F(KeychainTokenTest, TokenReadFromTheStoreNeverReachesTheLogFile)
{
    const auto folder
        = std::filesystem::path(::testing::TempDir()) / ("token-log-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    m_store->memory.write(kToken);
    {
        Log log(folder);
        m_token.get();
        log.info("bot: falhou " + kToken + " e 123456789%3AAAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ");
    }
    std::ifstream in(folder / "app.log");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().find("AAHdqTcvCH1vGWJxfSeofSAs0K5PALDsawQ"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("bot: falhou <token> e <token>"), std::string::npos) << text.str();
    std::filesystem::remove_all(folder);
}
