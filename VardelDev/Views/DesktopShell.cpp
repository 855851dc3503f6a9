#include "DesktopShell.h"

#include "AppInfo.h"
#include "Brand.h"
#include "L.h"
#include "MainWindow.h"
#include "Model.h"
#include "Symbols.h"
#include "UpdateNotifier.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

namespace vardel {

namespace {

    QString q(const std::string& text) { return QString::fromStdString(text); }
    const std::string kName(Brand::name);

    // Menu texts carry versions and counts from outside: a lone "&" must show, not mark a shortcut.
    QString menuText(const std::string& text) { return q(text).replace('&', QStringLiteral("&&")); }

    double nowSeconds() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

    bool askToStopAndQuit()
    {
        QMessageBox box(QMessageBox::Warning, q(L::t(K::alQuitTitle)), q(L::t(K::alQuitBody)));
        box.setTextFormat(Qt::PlainText);
        QPushButton* stop = box.addButton(q(L::t(K::alQuitStop)), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(q(L::t(K::cancel)), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.exec();
        return box.clickedButton() == stop;
    }

    void explainInDialog(const QString& title, const QString& text)
    {
        QMessageBox box(QMessageBox::Information, title, text);
        box.setTextFormat(Qt::PlainText);
        box.addButton(q(L::t(K::alGotIt)), QMessageBox::AcceptRole);
        box.exec();
    }

} // namespace

DesktopShell::DesktopShell(Model& model)
    : DesktopShell(model, Options())
{
}

DesktopShell::DesktopShell(Model& model, Options options)
    : m_model(model)
    , m_options(std::move(options))
    , m_window(std::make_unique<MainWindow>(model))
    , m_trayMenu(std::make_unique<QMenu>())
{
    if (!m_options.defaults)
        m_options.defaults = std::shared_ptr<QSettings>(AppInfo::userDefaults());
    if (!m_options.confirmQuit)
        m_options.confirmQuit = askToStopAndQuit;
    if (!m_options.explain)
        m_options.explain = explainInDialog;
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!m_options.finish)
        m_options.finish = [] { QCoreApplication::exit(0); };

    m_model.openSettings = [this] { showSettings(); };
    m_model.openOnboarding = [this] { showOnboarding(); };
    m_model.openUpdate = [this] { openUpdate(); };
    m_model.onLanguageChanged = [this] {
        buildMainMenu();
        if (m_settings)
            m_settings->setWindowTitle(q(L::t(K::setTitle)));
    };
    if (m_options.updates) {
        connect(m_options.updates, &UpdateNotifier::availableChanged, this, [this] {
            m_model.setUpdate(m_options.updates->available());
            buildMainMenu();
        });
        m_model.setUpdate(m_options.updates->available());
    }

    connect(m_window.get(), &MainWindow::closeRequested, this, &DesktopShell::windowCloseRequested);
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, &DesktopShell::buildTrayMenu);
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showWindow();
    });
    m_tray.setContextMenu(m_trayMenu.get());
    m_iconTimer.setInterval(1000);
    connect(&m_iconTimer, &QTimer::timeout, this, &DesktopShell::updateIcon);
    buildMainMenu();
    buildTrayMenu();
    updateIcon();
}

DesktopShell::~DesktopShell()
{
    m_model.openSettings = nullptr;
    m_model.openOnboarding = nullptr;
    m_model.openUpdate = nullptr;
    m_model.onLanguageChanged = nullptr;
    delete m_settings.data();
    if (m_onboarding) {
        m_onboarding->disconnect(this);
        delete m_onboarding.data();
    }
}

void DesktopShell::start()
{
    m_tray.show();
    m_iconTimer.start();
    const Settings& settings = m_model.settings();
    if (!settings.chatConfirmed || !settings.chatID) {
        showOnboarding();
        return;
    }
    // The keyring can keep the caller waiting on an unlock prompt: the answer comes back later.
    QPointer<DesktopShell> weak(this);
    m_model.readToken([weak](OptionalText token) {
        if (!weak || weak->m_quitting)
            return;
        if (token)
            weak->showWindow();
        else
            weak->showOnboarding();
    });
}

bool DesktopShell::protecting() const { return m_model.monitoringWanted() || m_model.mode() == Mode::monitor; }

// Windows.

void DesktopShell::showWindow()
{
    QWidget* front = m_onboarding ? m_onboarding.data() : m_window.get();
    if (front->isMinimized())
        front->showNormal();
    else
        front->show();
    front->raise();
    front->activateWindow();
}

void DesktopShell::showSettings()
{
    if (!m_settings && m_options.settings) {
        m_settings = m_options.settings(m_model);
        if (m_settings)
            m_settings->setWindowTitle(q(L::t(K::setTitle)));
    }
    if (!m_settings)
        return;
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void DesktopShell::showOnboarding()
{
    if (!m_onboarding && m_options.onboarding) {
        QPointer<DesktopShell> weak(this);
        m_onboarding = m_options.onboarding(m_model, [weak](bool startProtecting) {
            if (weak)
                weak->onboardingFinished(startProtecting);
        });
        if (m_onboarding) {
            m_onboarding->setAttribute(Qt::WA_DeleteOnClose);
            QString title = q(L::t(K::mnSetupGuide));
            m_onboarding->setWindowTitle(title.remove(QStringLiteral("…")));
            // Closed by the user: back to the main window.
            connect(m_onboarding, &QObject::destroyed, this, [this] {
                if (!m_quitting && !m_window->isVisible())
                    showWindow();
            });
        }
    }
    if (!m_onboarding) {
        // No first-run window in this build: the main window is the way in.
        showWindow();
        return;
    }
    m_window->hide();
    showWindow();
}

void DesktopShell::onboardingFinished(bool startProtecting)
{
    if (QWidget* flow = m_onboarding) {
        m_onboarding = nullptr;
        flow->hide();
        // Never inside the flow's own callback: the window goes once it has returned.
        flow->deleteLater();
    }
    showWindow();
    if (startProtecting && !protecting())
        m_model.toggleMonitoring();
}

void DesktopShell::windowCloseRequested()
{
    if (m_onboarding && m_onboarding->isVisible()) {
        m_window->hide();
        return;
    }
    if (!protecting()) {
        quit();
        return;
    }
    // Protection goes on without the picture.
    m_model.setPreviewOn(false);
    m_model.applyMode();
    const bool tray = m_options.trayAvailable();
    const QString key = tray ? QStringLiteral("explainedMenuBar") : QStringLiteral("explainedNoTray");
    if (!m_options.defaults->value(key, false).toBool()) {
        m_options.defaults->setValue(key, true);
        m_options.explain(q(L::t(K::alKeepsTitle, { kName })),
            q(L::t(tray ? K::alKeepsBody : K::alKeepsBodyNoTray, { kName })));
    }
    // Without a tray nothing could bring a hidden window back: it stays in the taskbar instead.
    if (tray)
        m_window->hide();
    else
        m_window->showMinimized();
}

// Quitting.

void DesktopShell::quit()
{
    if (m_quitting)
        return;
    if (protecting()) {
        showWindow();
        if (!m_options.confirmQuit())
            return;
    }
    shutDown();
}

void DesktopShell::shutDown()
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_iconTimer.stop();
    if (m_options.shutDown)
        return m_options.shutDown();
    m_model.shutdown([finish = m_options.finish] { finish(); });
}

// Tray icon and menus.

void DesktopShell::updateIcon()
{
    const MenuBarState state = MenuBar::make(m_model.mode(), m_model.phase(), m_model.lastEvent(), nowSeconds());
    if (state != m_iconState) {
        const QColor colour = Symbols::trayColour(state, QApplication::palette().color(QPalette::WindowText));
        QIcon icon;
        for (int size : { 22, 32, 64 })
            icon.addPixmap(Symbols::pixmap(Symbols::traySymbol(state), colour, size));
        m_tray.setIcon(icon);
        m_iconState = state;
    }
    m_tray.setToolTip(q(kName + ": " + m_model.presentation().title));
}

void DesktopShell::buildTrayMenu()
{
    QMenu& menu = *m_trayMenu;
    menu.clear();
    menu.addAction(menuText(kName + ": " + m_model.presentation().title))->setEnabled(false);
    if (const auto& release = m_model.update())
        connect(menu.addAction(menuText(L::t(K::upDownload, { release->version }))), &QAction::triggered, this,
            &DesktopShell::openUpdate);
    if (m_model.queue() >= 1)
        menu.addAction(menuText(L::t(K::mnPending, { std::to_string(m_model.queue()) })))->setEnabled(false);
    menu.addSeparator();
    connect(menu.addAction(menuText(L::t(K::mnOpenWindow, { kName }))), &QAction::triggered, this,
        &DesktopShell::showWindow);
    connect(menu.addAction(menuText(L::t(protecting() ? K::ctlStop : K::ctlStart))), &QAction::triggered,
        &m_model, &Model::toggleMonitoring);
    menu.addSeparator();
    connect(menu.addAction(menuText(L::t(K::mnQuit, { kName }))), &QAction::triggered, this, &DesktopShell::quit);
}

void DesktopShell::buildMainMenu()
{
    QMenuBar* bar = m_window->menuBar();
    bar->clear();
    QMenu* app = bar->addMenu(q(kName));
    connect(app->addAction(menuText(L::t(K::upAbout, { kName }))), &QAction::triggered, this, &DesktopShell::about);
    if (const auto& release = m_model.update())
        connect(app->addAction(menuText(L::t(K::upDownload, { release->version }))), &QAction::triggered, this,
            &DesktopShell::openUpdate);
    else if (m_options.updates && m_options.updates->hasFeed())
        connect(app->addAction(menuText(L::t(K::upCheck))), &QAction::triggered, this,
            &DesktopShell::checkForUpdates);
    app->addSeparator();
    QAction* settings = app->addAction(menuText(L::t(K::mnSettings)));
    const QKeySequence preferences(QKeySequence::Preferences);
    settings->setShortcut(preferences.isEmpty() ? QKeySequence(QStringLiteral("Ctrl+,")) : preferences);
    connect(settings, &QAction::triggered, this, [this] {
        if (m_model.openSettings)
            m_model.openSettings();
    });
    app->addSeparator();
    QAction* quitAction = app->addAction(menuText(L::t(K::mnQuit, { kName })));
    quitAction->setShortcut(QKeySequence::Quit);
    connect(quitAction, &QAction::triggered, this, &DesktopShell::quit);

    QMenu* window = bar->addMenu(menuText(L::t(K::mnWindow)));
    QAction* close = window->addAction(menuText(L::t(K::mnCloseWindow)));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, m_window.get(), &QWidget::close);
    QAction* minimize = window->addAction(menuText(L::t(K::mnMinimize)));
    minimize->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    connect(minimize, &QAction::triggered, m_window.get(), &QWidget::showMinimized);

    QMenu* help = bar->addMenu(menuText(L::t(K::mnHelp)));
    connect(help->addAction(menuText(L::t(K::mnSetupGuide))), &QAction::triggered, this,
        &DesktopShell::showOnboarding);
}

// Updates and about.

void DesktopShell::openUpdate()
{
    if (const auto& release = m_model.update())
        QDesktopServices::openUrl(QUrl(q(release->url)));
}

void DesktopShell::checkForUpdates()
{
    if (!m_options.updates)
        return;
    QPointer<DesktopShell> weak(this);
    m_options.updates->check([weak](const UpdateNotifier::Result& result) {
        if (!weak)
            return;
        QMessageBox box(weak->m_window.get());
        box.setTextFormat(Qt::PlainText);
        if (result.release) {
            box.setText(q(L::t(K::upAvailable, { result.release->version })));
            box.setInformativeText(q(result.release->notes.value_or("")));
            QPushButton* download
                = box.addButton(q(L::t(K::upDownload, { result.release->version })), QMessageBox::AcceptRole);
            box.addButton(q(L::t(K::upLater)), QMessageBox::RejectRole);
            box.exec();
            if (box.clickedButton() == download)
                QDesktopServices::openUrl(QUrl(q(result.release->url)));
            return;
        }
        box.setText(q(result.failure ? L::t(K::upFailed) : L::t(K::upLatest, { AppInfo::version() })));
        box.exec();
    });
}

void DesktopShell::about()
{
    QMessageBox::about(m_window.get(), q(L::t(K::upAbout, { kName })),
        q(kName + " " + AppInfo::version()).toHtmlEscaped());
}

} // namespace vardel
