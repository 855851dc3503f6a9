#include "AppHarness.h"
#include "AppInfo.h"
#include "AtomicFile.h"
#include "FakeBotApi.h"
#include "FileSecretStore.h"
#include "Outbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;

    // The real executable, run as a child process without a display or session bus: the bot token then
    // lives in the private file of the data folder, and the Bot API address comes from the user defaults.
    // QProcess kills it if it is still running at the end.
    class Brisko {
    public:
        Brisko(const DataFolder& folder, const std::string& endpoint)
            : m_folder(folder)
        {
            const fs::path config = folder.root / "config";
            fs::create_directories(config / "app.brisko.Brisko");
            std::ofstream(config / "app.brisko.Brisko" / "defaults.conf")
                << "[General]\nBotAPIURL=" << endpoint << "\n";
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS" })
                environment.remove(name);
            environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
            m_process.setProcessEnvironment(environment);
        }
        static fs::path executable()
        {
            return QCoreApplication::applicationDirPath().toStdString() + "/../VardelDev/brisko";
        }

        void start(std::vector<std::string> arguments)
        {
            QStringList list { "--data-dir", QString::fromStdString(m_folder.paths.data().string()) };
            for (const auto& argument : arguments)
                list << QString::fromStdString(argument);
            m_process.start(QString::fromStdString(executable().string()), list);
            EXPECT_TRUE(m_process.waitForStarted(5000)) << "build the brisko target first: " << executable();
        }
        bool waitForOutput(const std::string& text, double seconds)
        {
            return runUntil([&] { return output().find(text) != std::string::npos; }, seconds);
        }
        std::string output() { return m_output += m_process.readAllStandardError().toStdString(); }
        // SIGTERM: the process must be gone within 10 s, with exit code 0.
        void stopsCleanly()
        {
            QElapsedTimer clock;
            clock.start();
            m_process.terminate();
            EXPECT_EQ(exitWithin(30), 0) << output();
            EXPECT_LT(clock.elapsed(), 10'000);
        }
        // The exit code once the process has ended within `seconds`; -1 after a crash.
        std::optional<int> exitWithin(double seconds)
        {
            if (!m_process.waitForFinished(static_cast<int>(seconds * 1000)))
                return std::nullopt;
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        }

    private:
        const DataFolder& m_folder;
        QProcess m_process;
        std::string m_output;
    };

    class BriskoProcess : public testing::Test {
    protected:
        void SetUp() override
        {
            if (!fs::exists(kStreetVideo))
                GTEST_SKIP() << "opencv-doc is not installed: " << kStreetVideo;
        }
    };

    // GIVEN alerts waiting in the outbox and a Bot API that never answers, WHEN the protecting application
    // is told to stop, THEN it is gone within 10 s, a second start meanwhile only asks it to show itself,
    // the alerts are still in the outbox, and the next start sends them, in order.
    TEST_F(BriskoProcess, QuitsPromptlyWithABacklogThatTheNextStartSends)
    {
        DataFolder folder;
        FileSecretStore(folder.paths.secrets(), AppInfo::keychainService(), "telegram-bot")
            .write(FakeBotApi::kToken);
        const std::vector<std::string> backlog { "waiting 1", "waiting 2", "waiting 3" };
        {
            Outbox outbox(folder.paths.outbox());
            for (const auto& text : backlog)
                outbox.enqueue("text", text, std::nullopt);
        }
        FakeBotApi api;
        api.failNext(FakeBotApi::Fault::hold(), "sendMessage");
        Brisko brisko(folder, api.endpoint());
        brisko.start({ "--camera-file", kStreetVideo.string(), "--arm" });
        ASSERT_TRUE(api.waitForHeld(1, 20)) << brisko.output();

        Brisko second(folder, api.endpoint());
        second.start({});
        ASSERT_TRUE(second.exitWithin(10));
        EXPECT_NE(second.output().find("already running"), std::string::npos) << second.output();
        EXPECT_TRUE(brisko.waitForOutput("another start asked", 5)) << brisko.output();

        brisko.stopsCleanly();
        const auto waiting = folder.outboxItems();
        ASSERT_GE(waiting.size(), backlog.size())
            << brisko.output() << "sent: " << testing::PrintToString(textsSent(api));
        for (std::size_t i = 0; i < backlog.size(); ++i)
            EXPECT_NE(waiting[i].find(backlog[i]), std::string::npos) << waiting[i];

        api.release();
        const std::size_t before = api.callsOf("sendMessage").size();
        Brisko next(folder, api.endpoint());
        next.start({});
        // The backlog first; then, as the run ended on a signal while protecting, word of the restart
        // (enqueued once protection is back, so possibly after the backlog has gone out).
        const auto offline
            = [](const std::string& text) { return text.find(" was offline from ") != std::string::npos; };
        ASSERT_TRUE(runUntil(
            [&] {
                return Outbox(folder.paths.outbox()).pending().empty()
                    && std::ranges::any_of(textsSent(api), offline);
            },
            30))
            << next.output();
        auto texts = textsSent(api);
        texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(before));
        ASSERT_GE(texts.size(), backlog.size());
        EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 3), backlog);
        EXPECT_EQ(std::ranges::count_if(texts, offline), 1);
        next.stopsCleanly();
    }

    // Bad input gives a clear message and no crash, and what was stored stays where it was.
    TEST_F(BriskoProcess, BadInputSaysWhatIsWrongAndLosesNothing)
    {
        // A leading "@" stands for the data folder; exit code -1: keeps running until stopped.
        const std::tuple<const char*, std::vector<std::string>, int, const char*> rows[]
            = { { "missing camera file", { "--camera-file", "@/none.mp4" }, 2, "cannot use" },
                  { "camera file not a video", { "--camera-file", "@/config.json" }, 2, "cannot use" },
                  { "data folder cannot be created", { "--data-dir", "@/config.json/data" }, 2,
                      "cannot use the data folder" },
                  { "corrupt settings", { "--camera-file", kStreetVideo.string(), "--arm" }, -1,
                      "config.json.unreadable" } };
        for (auto [name, arguments, exitCode, message] : rows) {
            SCOPED_TRACE(name);
            DataFolder folder;
            const fs::path item = Outbox(folder.paths.outbox()).enqueue("text", "kept", std::nullopt);
            const bool corrupt = exitCode < 0;
            if (corrupt)
                AtomicFile::write(folder.paths.config(), "{\"chat_id\": 42, \"roi\": [0, 0");
            for (auto& argument : arguments)
                if (argument.starts_with('@'))
                    argument = folder.paths.data().string() + argument.substr(1);
            const std::string settingsBefore = DataFolder::read(folder.paths.config());
            Brisko brisko(folder, "http://127.0.0.1:9");
            brisko.start(arguments);
            if (!corrupt) {
                EXPECT_EQ(brisko.exitWithin(20), exitCode);
            }
            EXPECT_TRUE(brisko.waitForOutput(message, 20)) << brisko.output();
            if (corrupt) {
                brisko.stopsCleanly();
                EXPECT_EQ(DataFolder::read(folder.paths.config().string() + ".unreadable"), settingsBefore);
            }
            EXPECT_TRUE(fs::exists(item));
            EXPECT_EQ(DataFolder::read(folder.paths.config()), settingsBefore);
        }
    }

} // namespace
} // namespace vardel::test
