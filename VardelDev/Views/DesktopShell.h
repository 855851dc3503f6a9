#pragma once

#include "MenuBarState.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSettings;


namespace vardel {

class MainWindow;
class Model;
class UpdateNotifier;

// The desktop face of the application: owns the main window with its menu bar, the tray icon with its
// menu, and the settings and first-run windows that the factories make. Decides at start whether the
// first-run flow is needed, explains once that closing the window keeps protection on, and runs every
// quit through one path: a confirmation while protecting, then the model's orderly shut-down, then
// `finish`. Main thread; installs the model's openSettings, openOnboarding, openUpdate and
// onLanguageChanged callbacks.
class DesktopShell final : public QObject {
    Q_OBJECT
public:
    using WindowFactory = std::function<QWidget*(Model& model)>;
    // The first-run window; it calls `finished(startProtecting)` when the flow is done.
    using OnboardingFactory
        = std::function<QWidget*(Model& model, std::function<void(bool startProtecting)> finished)>;

    struct Options {
        // User defaults ("explainedMenuBar"); AppInfo's by default.
        std::shared_ptr<QSettings> defaults;
        // The release check, when there is one; its newer release is offered in the menus.
        UpdateNotifier* updates = nullptr;
        OnboardingFactory onboarding;
        WindowFactory settings;
        // True to stop protection and quit; a dialog by default.
        std::function<bool()> confirmQuit;
        // Shows a one-button explanation (title, text); a dialog by default.
        std::function<void(const QString& title, const QString& text)> explain;
        // Whether a tray host is there; QSystemTrayIcon::isSystemTrayAvailable by default.
        std::function<bool()> trayAvailable;
        // Called once the model has shut down; QCoreApplication::exit by default (quit() would ask the windows, which refuse).
        std::function<void()> finish;
        // The application's ordered shut-down and quit, when it owns one; by default the shell shuts the
        // model down itself and then calls `finish`.
        std::function<void()> shutDown;
    };

    explicit DesktopShell(Model& model);
    DesktopShell(Model& model, Options options);
    ~DesktopShell() override;

    // Shows the tray icon and the main window, or the first-run window when no chat is paired or no bot
    // token is stored (the token is read off the main thread; the window appears when it is known).
    void start();

    void showWindow();
    void showSettings();
    void showOnboarding();
    // Asks first while protecting; does nothing when the user cancels.
    void quit();
    // Quits without asking (session end, SIGTERM).
    void shutDown();

    MainWindow& window() { return *m_window; }
    QSystemTrayIcon& tray() { return m_tray; }
    QMenu& trayMenu() { return *m_trayMenu; }
    QWidget* onboardingWindow() const { return m_onboarding; }
    std::optional<MenuBarState> iconState() const { return m_iconState; }
    bool quitting() const { return m_quitting; }

    // The tray icon for the current state (redrawn only when the state changed) and its tool tip.
    void updateIcon();
    void buildTrayMenu();
    void buildMainMenu();

private:
    bool protecting() const;
    void windowCloseRequested();
    void onboardingFinished(bool startProtecting);
    void openUpdate();
    void checkForUpdates();
    void about();

    Model& m_model;
    Options m_options;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QMenu> m_trayMenu;
    QSystemTrayIcon m_tray;
    QTimer m_iconTimer;
    std::optional<MenuBarState> m_iconState;
    QPointer<QWidget> m_settings;
    QPointer<QWidget> m_onboarding;
    bool m_quitting = false;
};

} // namespace vardel
