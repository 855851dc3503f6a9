#include "UpdateNotifier.h"

#include "ScriptedPoster.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace vardel {
namespace {

    class UpdateNotifierTest : public ::testing::Test {
    protected:
        QTemporaryDir dir;
        std::shared_ptr<QSettings> defaults
            = std::make_shared<QSettings>(dir.filePath("defaults.ini"), QSettings::IniFormat);
        std::vector<std::string> lines;

        void feedFile(const std::string& body)
        {
            const std::string path = dir.filePath("latest.json").toStdString();
            std::ofstream(path) << body;
            defaults->setValue("UpdateFeedURL", QString::fromStdString("file://" + path));
        }
        std::unique_ptr<UpdateNotifier> notifier(std::shared_ptr<HTTPPosting> http = nullptr)
        {
            return std::make_unique<UpdateNotifier>(
                defaults, "1.0", [this](const std::string& line) { lines.push_back(line); }, http);
        }
        // Runs a check and waits for its result.
        UpdateNotifier::Result checked(UpdateNotifier& updates)
        {
            std::optional<UpdateNotifier::Result> result;
            updates.check([&](const UpdateNotifier::Result& r) { result = r; });
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!result && std::chrono::steady_clock::now() < end) {
                QCoreApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_TRUE(result.has_value());
            return result.value_or(UpdateNotifier::Result {});
        }
    };

    TEST_F(UpdateNotifierTest, TrustsOnlyAnHttpsOrLocalFeedAndWithoutOneRequestsNothing)
    {
        const std::string builtIn = "https://brisko.app/latest.json";
        EXPECT_EQ(UpdateNotifier::feedAddress(*defaults, ""), std::nullopt);
        EXPECT_EQ(UpdateNotifier::feedAddress(*defaults, builtIn), builtIn);
        defaults->setValue("UpdateFeedURL", "file:///srv/feed.json");
        EXPECT_EQ(UpdateNotifier::feedAddress(*defaults, builtIn), "file:///srv/feed.json");
        defaults->setValue("UpdateFeedURL", "http://evil.example/latest.json");
        EXPECT_EQ(UpdateNotifier::feedAddress(*defaults, ""), std::nullopt);

        auto http = std::make_shared<test::ScriptedPoster>();
        auto updates = notifier(http);
        bool called = false;
        updates->check([&](const auto&) { called = true; });
        updates->start();
        EXPECT_FALSE(updates->hasFeed());
        EXPECT_FALSE(updates->busy());
        QCoreApplication::processEvents();
        EXPECT_FALSE(called);
        EXPECT_TRUE(http->requests().empty());
    }

    TEST_F(UpdateNotifierTest, NewerReleaseIsPublishedStoredAndRestoredABrokenFeedOnlyLogged)
    {
        feedFile("<html>not json</html>");
        auto updates = notifier();
        EXPECT_EQ(checked(*updates).failure, Updates::Failure::Case::badFeed);
        EXPECT_FALSE(updates->busy());
        EXPECT_FALSE(defaults->contains("LastUpdateCheck"));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("atualização: feed inválido: ")) << lines[0];

        feedFile(R"({"version":"1.1","url":"https://x.org/b","notes":"Fixes"})");
        int changes = 0;
        QObject::connect(updates.get(), &UpdateNotifier::availableChanged, [&] { ++changes; });
        const auto result = checked(*updates);
        const Updates::Release release { "1.1", "https://x.org/b", "Fixes" };
        EXPECT_EQ(result.release, release);
        EXPECT_EQ(updates->available(), release);
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(defaults->value("LastUpdateCheck").toDateTime().isValid());
        EXPECT_EQ(notifier()->available(), release);

        checked(*updates); // the same release again: no change signal
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(std::make_unique<UpdateNotifier>(defaults, "1.1")->available(), std::nullopt);
    }

    TEST_F(UpdateNotifierTest, DestroyingDuringAFetchDoesNotWaitForTheNetwork)
    {
        // A server that accepts connections and never answers the TLS handshake.
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        defaults->setValue(
            "UpdateFeedURL", QStringLiteral("https://127.0.0.1:%1/latest.json").arg(server.serverPort()));

        auto updates = notifier();
        bool called = false;
        updates->check([&](const auto&) { called = true; });
        ASSERT_TRUE(server.waitForNewConnection(5000)) << "the fetch never connected";
        const auto start = std::chrono::steady_clock::now();
        updates.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        QCoreApplication::processEvents();
        EXPECT_FALSE(called);
    }

} // namespace
} // namespace vardel
