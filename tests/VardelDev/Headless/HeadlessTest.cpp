#include "AppInfo.h"
#include "FileSecretStore.h"
#include "L.h"
#include "PrivateBus.h"
#include "QrCode.h"
#include "SettingsStore.h"
#include "TerminalQr.h"
#include "ViewHarness.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    namespace fs = std::filesystem;
    using Clock = std::chrono::steady_clock;

    std::string brisko()
    {
        return (
            fs::path(QCoreApplication::applicationDirPath().toStdString()) / ".." / "VardelDev" / "brisko")
            .string();
    }

    // The user defaults that point the application at the fake Bot API; returns XDG_CONFIG_HOME=...
    std::string configFor(const DataFolder& folder, const FakeBotApi& api)
    {
        const fs::path config = folder.root / "config";
        fs::create_directories(config / "app.brisko.Brisko");
        std::ofstream(config / "app.brisko.Brisko" / "defaults.conf")
            << "[General]\nBotAPIURL=" << api.endpoint() << "\n";
        return "XDG_CONFIG_HOME=" + config.string();
    }

    // Waits for `pid` to end; seconds taken, or a negative number after `timeout`.
    double reapWithin(pid_t pid, double timeout, int* status = nullptr)
    {
        const auto start = Clock::now();
        int result = 0;
        while (::waitpid(pid, &result, WNOHANG) == 0) {
            if (Clock::now() - start > std::chrono::duration<double>(timeout))
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (status)
            *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    class Headless : public testing::Test {
    protected:
        void SetUp() override
        {
            if (!fs::exists(brisko()))
                FAIL() << "build the brisko target first: " << brisko();
            if (!fs::exists(kStreetVideo))
                GTEST_SKIP() << "opencv-doc is not installed: " << kStreetVideo;
        }
    };

    // Armed with `brisko arm`, the service on its own session bus sends the person's photo and clip, status
    // and the bus properties follow, and SIGTERM ends it in order; the clients then say it is not running.
    TEST_F(Headless, ArmedFromTheShellAlertsAndStopsInOrder)
    {
        PrivateBus bus;
        ASSERT_TRUE(bus.ok());
        DataFolder folder(DetectionMode::person);
        folder.settings.postSeconds = 1; // the clip goes out a second after the person
        folder.writeSettings(folder.settings);
        FileSecretStore(folder.paths.secrets(), AppInfo::keychainService(), "telegram-bot")
            .write(FakeBotApi::kToken);
        FakeBotApi api;
        const std::vector<std::string> env { configFor(folder, api), "LANG=C",
            "LANGUAGE=", "JOURNAL_STREAM=8:1" };
        const std::string data = folder.paths.data().string();
        // The street after a still lead-in, so that the camera settles at its quickest and people walk in
        // once protection is on; without ffmpeg, the street itself, which settles only at the longest.
        std::string video = (folder.root / "street.avi").string();
        const auto cut = bus.run({ "ffmpeg", "-loglevel", "error", "-i", kStreetVideo.string(), "-vf",
            "tpad=start_duration=3.5:start_mode=clone", "-t", "12", "-c:v", "mjpeg", "-q:v", "5", video });
        if (cut.status != 0)
            video = kStreetVideo.string();
        auto client = [&](const char* command) {
            return bus.run({ brisko(), command, "--data-dir", data }, env, 30);
        };
        auto startService = [&] {
            const pid_t pid
                = bus.start({ brisko(), "--headless", "--camera-file", video, "--data-dir", data }, env);
            EXPECT_TRUE(bus.waitForName("app.brisko.Brisko"));
            return pid;
        };
        const pid_t service = startService();
        bus.start({ "gdbus", "monitor", "--address", bus.address(), "--dest", "app.brisko.Brisko" });
        const auto before = client("status");
        EXPECT_EQ(before.status, 0) << before.output;
        EXPECT_NE(before.output.find(L::t(K::hlMode, AppLanguage::en, { "off" })), std::string::npos)
            << before.output;

        const auto armed = client("arm");
        EXPECT_EQ(armed.status, 0) << armed.output;
        ASSERT_TRUE(runUntil([&] { return !api.callsOf("sendVideo").empty(); }, 120))
            << DataFolder::read(bus.dir() / "log");
        EXPECT_EQ(api.callsOf("sendPhoto").size(), 1u);
        const std::string monitoring = L::t(K::hlMode, AppLanguage::en, { "monitor" });
        const auto during = client("status");
        EXPECT_NE(during.output.find(monitoring), std::string::npos) << during.output;
        EXPECT_NE(during.output.find(" person"), std::string::npos) << during.output;

        ::kill(service, SIGTERM);
        EXPECT_GE(reapWithin(service, 10), 0);
        const std::string log = DataFolder::read(bus.dir() / "log");
        EXPECT_NE(log.find("<6>stopping"), std::string::npos) << log; // journal priorities
        EXPECT_NE(log.find("'Mode': <'monitor'>"), std::string::npos) << log; // PropertiesChanged
        const auto after = client("status");
        EXPECT_EQ(after.status, 1);
        EXPECT_TRUE(after.output.ends_with(L::t(K::hlNotRunning, AppLanguage::en, { "Brisko" }) + "\n"));

        // Stopped by the system while protecting: the next start protects again by itself and tells the chat
        // once how long it was away; `brisko disarm` then switches protection off.
        const pid_t again = startService();
        EXPECT_TRUE(runUntil(
            [&] {
                return std::ranges::count_if(textsSent(api), [](const std::string& text) {
                    return text.find(" was offline from ") != std::string::npos;
                }) == 1;
            },
            30));
        EXPECT_NE(client("status").output.find(monitoring), std::string::npos); // protecting when it told
        EXPECT_EQ(client("disarm").status, 0);
        const std::string status = client("status").output;
        EXPECT_EQ(status.find(monitoring), std::string::npos) << status;
        ::kill(again, SIGTERM);
        EXPECT_GE(reapWithin(again, 15), 0);
    }

    // `brisko setup` over `folder` and the fake API on a pseudo-terminal: output collected, answers typed.
    struct Terminal {
        Terminal(const DataFolder& folder, const FakeBotApi& api)
        {
            const std::string exe = brisko(), video = kStreetVideo.string(),
                              data = folder.paths.data().string();
            std::string config = configFor(folder, api);
            pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
            if (pid == 0) {
                ::putenv(config.data());
                ::setenv("LANG", "C", 1);
                ::setenv("LANGUAGE", "", 1);
                ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // the token then goes to the data folder's file
                ::execl(exe.c_str(), exe.c_str(), "setup", "--camera-file", video.c_str(), "--data-dir",
                    data.c_str(), nullptr);
                ::_exit(127);
            }
        }
        ~Terminal()
        {
            if (pid > 0 && reapWithin(pid, 0) < 0) {
                ::kill(pid, SIGKILL);
                reapWithin(pid, 5);
            }
            ::close(fd);
        }
        bool echoes() const
        {
            termios mode {};
            return ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO);
        }

        // Waits for `text` after what was matched before; runs the Qt loop meanwhile (the fake API's calls).
        bool expect(const std::string& text, double seconds = 20)
        {
            return runUntil(
                [&] {
                    pollfd ready { fd, POLLIN, 0 };
                    char bytes[4096];
                    while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
                        const auto count = ::read(fd, bytes, sizeof bytes);
                        if (count <= 0)
                            break;
                        output.append(bytes, static_cast<std::size_t>(count));
                    }
                    const auto found = output.find(text, matched);
                    if (found == std::string::npos)
                        return false;
                    matched = found + text.size();
                    return true;
                },
                seconds);
        }
        void type(const std::string& text)
        {
            [[maybe_unused]] auto n = ::write(fd, text.data(), text.size());
        }
        // Waits for each prompt in turn and types its answer; false when one does not come.
        bool answer(const std::vector<std::pair<std::string, std::string>>& prompts)
        {
            for (const auto& [prompt, reply] : prompts) {
                if (!expect(prompt))
                    return false;
                type(reply);
            }
            return true;
        }

        pid_t pid = -1;
        int fd = -1;
        std::string output;
        std::size_t matched = 0;
    };

    // The setup walked in Spanish, with a wrong area, a wrong key and then BotFather's whole message pasted,
    // never shows the key, pairs the chat that sends the code and stores every choice. A second setup, told
    // to stop while it asks for the key with echo off, quits at once with the echo back on.
    TEST_F(Headless, SetupInTheTerminalPairsAndTestsOrStopsOnSigterm)
    {
        DataFolder folder, quitFolder;
        fs::remove(folder.paths.config());
        FakeBotApi api;
        const auto es = [](K key, std::initializer_list<std::string_view> args = {}) {
            return L::t(key, AppLanguage::es, args);
        };
        const auto en = [](K key) { return L::t(key, AppLanguage::en); };
        Terminal terminal(folder, api), quitter(quitFolder, api);
        const std::string live = es(K::hlCamLive, { "vtest", "" });
        ASSERT_TRUE(terminal.answer({ { en(K::hlChoose), "3\n" }, { live.substr(0, live.find('(')), "" },
            { es(K::hlAreaAsk), "0.5 0.5 0.8 0.2\n" }, { es(K::hlAreaBad), "0.25 0.1 0.5 0.8\n" },
            { es(K::hlChoose), "2\n" }, { es(K::hlKeyAsk), "12345\n" },
            { es(K::obKeyBad),
                std::string("Use this token to access the HTTP API:\n") + FakeBotApi::kToken + "\n" },
            { es(K::obKeyOK, { "brisko_test_bot" }), "" } }))
            << terminal.output;
        // The pasted message was one answer: its first line was not refused on its own.
        const std::string& shown = terminal.output;
        EXPECT_EQ(shown.find(es(K::obKeyBad), shown.find(es(K::obKeyBad)) + 1), std::string::npos) << shown;
        ASSERT_TRUE(terminal.expect("https://t.me/brisko_test_bot?start=")) << terminal.output;
        const std::string code = terminal.output.substr(terminal.matched).substr(0, 6);
        ASSERT_TRUE(terminal.expect("\u2588\u2588\u2588\u2588")); // the QR code's quiet zone
        api.pushUpdate(startMessage(code));
        ASSERT_TRUE(terminal.answer({ { es(K::obConfHeard) + " Maria", "1\n" }, { es(K::hlPressEnter), "\n" },
            { es(K::obTestSent, { "Maria (@maria)" }), "1\n" }, { es(K::obDoneTitle), "" } }))
            << terminal.output;
        int status = -1;
        EXPECT_GE(reapWithin(terminal.pid, 15, &status), 0);
        EXPECT_EQ(status, 0);

        EXPECT_EQ(terminal.output.find(FakeBotApi::kToken), std::string::npos);
        EXPECT_EQ(api.callsOf("sendMessage").at(0).fields.at("chat_id"), "77");
        const Settings stored = SettingsStore(folder.paths.config()).load();
        EXPECT_EQ(stored.chatID, 77);
        EXPECT_TRUE(stored.chatConfirmed);
        EXPECT_EQ(stored.language, AppLanguage::es);
        EXPECT_EQ(stored.detectionMode, DetectionMode::motion);
        EXPECT_FALSE(stored.roi.isFull());
        EXPECT_EQ(FileSecretStore(folder.paths.secrets(), AppInfo::keychainService(), "telegram-bot").read(),
            FakeBotApi::kToken);

        ASSERT_TRUE(quitter.answer({ { en(K::hlChoose), "1\n" }, { en(K::hlAreaAsk), "whole\n" },
            { en(K::hlChoose), "\n" }, { en(K::hlKeyAsk), "" } }))
            << quitter.output;
        EXPECT_FALSE(quitter.echoes());
        ::kill(quitter.pid, SIGTERM);
        ASSERT_TRUE(quitter.expect(en(K::hlSetupLeft), 10)) << quitter.output;
        EXPECT_GE(reapWithin(quitter.pid, 10, &status), 0);
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(quitter.echoes());
    }

    // Each character holds two modules, top and bottom, lit where the symbol is light: read back, the
    // picture is the code with its quiet zone.
    TEST(HeadlessQr, TerminalDrawingReadsBackAsTheCode)
    {
        const auto code = QrCode::encode("https://t.me/brisko_test_bot?start=123456");
        ASSERT_TRUE(code);
        const QStringList lines = QString::fromStdString(terminalQr(*code)).split('\n', Qt::SkipEmptyParts);
        const int side = code->size() + 8;
        ASSERT_EQ(lines.size(), (side + 1) / 2);
        const QString cells = QString::fromUtf8(" \u2584\u2580\u2588");
        for (int row = 0; row < lines.size(); ++row) {
            ASSERT_EQ(lines[row].size(), side);
            for (int x = 0; x < side; ++x) {
                const int cell = static_cast<int>(cells.indexOf(lines[row][x]));
                EXPECT_EQ(
                    cell, (code->dark(x - 4, 2 * row - 4) ? 0 : 2) + (code->dark(x - 4, 2 * row - 3) ? 0 : 1))
                    << "row " << row << " column " << x;
            }
        }
    }

    // The installed user unit is one systemd accepts, pointing at the real executable.
    TEST(HeadlessUnit, PassesSystemdVerify)
    {
        if (!PrivateBus::onPath("systemd-analyze"))
            GTEST_SKIP() << "systemd-analyze is not installed";
        const fs::path built = fs::path(brisko()).parent_path() / "brisko.service";
        std::string unit = DataFolder::read(built);
        ASSERT_NE(unit.find("ExecStart="), std::string::npos) << built;
        const auto start = unit.find("ExecStart=") + 10;
        unit.replace(start, unit.find(' ', start) - start, fs::canonical(brisko()).string());
        PrivateBus scratch; // its runtime folder stands in for the user manager's
        std::ofstream(scratch.dir() / "brisko.service") << unit;
        const auto verify = scratch.run(
            { "systemd-analyze", "--user", "verify", (scratch.dir() / "brisko.service").string() });
        EXPECT_EQ(verify.status, 0) << verify.output;
        EXPECT_EQ(verify.output, "");
    }

} // namespace
} // namespace vardel::test
