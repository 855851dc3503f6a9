#pragma once

// A real application model for the window tests: a fresh data folder with a paired chat, the street video
// as the camera, a token in memory (or the given store) and a Bot API address where nothing listens (or the
// given one).

#include "AppHarness.h"
#include "FileCameraSource.h"
#include "MemorySecretStore.h"
#include "Model.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QSettings>

#include <memory>

namespace vardel::test {

struct ViewModel {
    explicit ViewModel(std::shared_ptr<SecretStore> secrets = std::make_shared<MemorySecretStore>("1:token"),
        const std::filesystem::path& camera = kStreetVideo, const std::string& endpoint = {})
        : model(options(folder, std::move(secrets), camera, endpoint))
        , defaults(std::make_shared<QSettings>(
              QString::fromStdString((folder.root / "defaults.ini").string()), QSettings::IniFormat))
    {
    }

    static Model::Options options(const DataFolder& folder, std::shared_ptr<SecretStore> secrets,
        const std::filesystem::path& camera, const std::string& endpoint)
    {
        Model::Options options;
        options.paths = folder.paths;
        options.camera = std::make_unique<FileCameraSource>(camera.string());
        options.secrets = std::move(secrets);
        options.endpoint = endpoint.empty() ? "http://127.0.0.1:" + std::to_string(freePort()) : endpoint;
        return options;
    }

    DataFolder folder;
    Model model;
    std::shared_ptr<QSettings> defaults;
};

// A left-button press, move or release at `at` in `widget`.
inline void mouse(QWidget* widget, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace vardel::test
