#pragma once

// A real application model over a fresh data folder with a paired chat (unless told not), the street video as
// the camera, a token in memory (or the given store) and a Bot API address where nothing listens (or the
// given one).

#include "AppHarness.h"
#include "FakeBotApi.h"
#include "MemorySecretStore.h"
#include "OnboardingModel.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QSettings>
#include <QWidget>

#include <memory>

namespace vardel::test {

struct ViewModel {
    explicit ViewModel(std::shared_ptr<SecretStore> secrets = std::make_shared<MemorySecretStore>("1:token"),
        const std::filesystem::path& camera = kStreetVideo, const std::string& endpoint = {},
        bool paired = true)
        : model([&] {
            // Unpaired before the model starts, so that its command poller never opens a long poll that
            // pairing would have to wait out.
            if (!paired) {
                folder.settings.chatConfirmed = false;
                folder.writeSettings(folder.settings);
            }
            auto options = appOptions(folder,
                endpoint.empty() ? "http://127.0.0.1:" + std::to_string(freePort()) : endpoint, camera);
            options.secrets = std::move(secrets);
            return options;
        }())
        , defaults(std::make_shared<QSettings>(
              QString::fromStdString((folder.root / "defaults.ini").string()), QSettings::IniFormat))
    {
    }

    DataFolder folder;
    Model model;
    std::shared_ptr<QSettings> defaults;
};

// The application over the fake Bot API with `token` stored and, unless `paired`, no chat confirmed yet.
struct FlowApp {
    explicit FlowApp(std::optional<std::string> token, bool paired = false)
        : secrets(std::make_shared<MemorySecretStore>(token))
        , view(secrets, kStreetVideo, api.endpoint(), paired)
    {
        api.setResult("getMyDescription", { { "description", "" } });
        api.setResult("getMyShortDescription", { { "short_description", "" } });
    }
    OnboardingModel::Options flowOptions(std::string fullName = "Maria Souza") const
    {
        return { api.endpoint(), nullptr, std::move(fullName) };
    }

    FakeBotApi api;
    std::shared_ptr<MemorySecretStore> secrets;
    ViewModel view;
    Model* app = &view.model;
};

// A "/start CODE" message from Maria (@maria) in chat `chat`.
inline nlohmann::json startMessage(
    const std::string& code, std::int64_t chat = 77, const char* type = "private")
{
    return { { "message",
        { { "text", "/start " + code }, { "chat", { { "id", chat }, { "type", type } } },
            { "from", { { "first_name", "Maria" }, { "username", "maria" } } } } } };
}

// A left-button press, move or release at `at` in `widget`.
inline void mouse(QWidget* widget, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace vardel::test
