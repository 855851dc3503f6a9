#include "OnboardingModel.h"

#include "AppInfo.h"
#include "AreaDraft.h"
#include "BotPhoto.h"
#include "Brand.h"
#include "FrameGeometry.h"
#include "L.h"
#include "Log.h"
#include "Model.h"
#include "QueueRunner.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QSettings>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

namespace vardel {

namespace {

    constexpr double kCodeLifetime = 600;
    constexpr int kLongPoll = 15;
    constexpr double kRetryAfter = 3;
    constexpr int kCopiedMs = 2000;

    std::string systemFullName()
    {
        const passwd* user = ::getpwuid(::getuid());
        if (!user || !user->pw_gecos)
            return {};
        const std::string gecos = user->pw_gecos;
        return gecos.substr(0, gecos.find(','));
    }

    // The bot's id: the digits before ":" of its token.
    std::string botID(const std::string& token) { return token.substr(0, token.find(':')); }

    OnboardingModel::KeyState stateFor(TelegramSetup::Failure::Case failure)
    {
        switch (failure) {
        case TelegramSetup::Failure::Case::notAKey:
            return OnboardingModel::KeyState::bad;
        case TelegramSetup::Failure::Case::rejected:
            return OnboardingModel::KeyState::rejected;
        case TelegramSetup::Failure::Case::offline:
            break;
        }
        return OnboardingModel::KeyState::offline;
    }

} // namespace

OnboardingModel::OnboardingModel(Model& app, Options options, QObject* parent)
    : QObject(parent)
    , m_app(app)
    , m_areaPart(!app.roi().isFull())
    , m_suggestedUsername(
          TelegramSetup::suggestedUsername(options.fullName.value_or(systemFullName()), Brand::name))
{
    m_shared->api
        = { m_shared->http, options.endpoint.value_or(TelegramClient::endpointFrom(AppInfo::botAPIURL())) };
    m_shared->clock = options.clock ? options.clock : std::make_shared<SystemClock>();
    // The log is the model's, which outlives this object; lines from the work queue go through it.
    Log* appLog = &app.log();
    m_shared->log = [appLog](const std::string& line) { appLog->info(line); };
    m_shared->lease = app.pollLease();

    refreshCamera();
    connect(&app, &Model::permissionDeniedChanged, this, &OnboardingModel::refreshCamera);
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &OnboardingModel::expireIfDue);
    for (auto [timer, flag, signal] :
        { std::tuple { &m_copiedReset, &m_copied, &OnboardingModel::copiedChanged },
            std::tuple {
                &m_copiedUsernameReset, &m_copiedUsername, &OnboardingModel::copiedUsernameChanged } }) {
        timer->setSingleShot(true);
        timer->setInterval(kCopiedMs);
        connect(timer, &QTimer::timeout, this, [this, flag, signal] { publish(*flag, false, signal); });
    }
}

OnboardingModel::~OnboardingModel()
{
    ++m_shared->generation;
    m_shared->http->cancel();
    m_work.shutdown();
}

void OnboardingModel::post(std::function<void()> work)
{
    QPointer<OnboardingModel> weak(this);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, work = std::move(work)] {
            if (weak)
                work();
        },
        Qt::QueuedConnection);
}

void OnboardingModel::log(const std::string& line) { m_shared->log(line); }

// Steps.

void OnboardingModel::go(ObStep step)
{
    if (m_step == ObStep::confirm && step != ObStep::confirm)
        stopPairing();
    publish(m_step, step, &OnboardingModel::stepChanged);
    if (step == ObStep::confirm) {
        const Settings& settings = m_app.settings();
        if (!(settings.chatConfirmed && settings.chatLabel && !settings.chatLabel->empty()
                && !m_connectAnother))
            startPairing();
    } else if (step == ObStep::telegram) {
        loadExistingBot();
    }
}

void OnboardingModel::next()
{
    if (m_step == ObStep::done || m_step == ObStep::confirm || (m_step == ObStep::telegram && !m_bot))
        return;
    if (m_step == ObStep::area) {
        if (!canSaveArea())
            return;
        saveArea();
    }
    go(static_cast<ObStep>(static_cast<int>(m_step) + 1));
}

void OnboardingModel::back()
{
    if (m_step != ObStep::language)
        go(static_cast<ObStep>(static_cast<int>(m_step) - 1));
}

// Language, camera, area, alerts.

void OnboardingModel::chooseLanguage(AppLanguage language) { m_app.setLanguage(language); }

void OnboardingModel::requestCamera()
{
    if (m_app.mode() == Mode::off && !m_app.previewOn())
        m_app.togglePreview();
    refreshCamera();
}

void OnboardingModel::refreshCamera()
{
    publish(m_cameraStatus, m_app.permissionDenied() ? CameraStatus::denied : CameraStatus::authorized,
        &OnboardingModel::cameraStatusChanged);
}

void OnboardingModel::setAreaPart(bool on)
{
    publish(m_areaPart, on, &OnboardingModel::areaPartChanged);
    if (on && !m_draft && m_app.roi().isFull())
        setDraft(AreaDraft::initial());
}

void OnboardingModel::setDraft(OptionalROI draft)
{
    publish(m_draft, std::move(draft), &OnboardingModel::draftChanged);
}

bool OnboardingModel::canSaveArea() const
{
    if (!m_areaPart)
        return true;
    return AreaDraft::isUsable(m_draft ? m_draft : std::optional(m_app.roi()));
}

void OnboardingModel::saveArea()
{
    if (m_areaPart && m_draft)
        m_app.saveReferenceROI(FrameGeometry::referenceROI(*m_draft, m_app.frameAspect()));
    else if (!m_areaPart && !m_app.roi().isFull())
        m_app.saveReferenceROI(ROI::full());
    setDraft(std::nullopt);
}

void OnboardingModel::setDetectionMode(DetectionMode mode) { m_app.setDetectionMode(mode); }

// The bot.

void OnboardingModel::setKeyText(std::string text)
{
    if (text == m_keyText)
        return;
    publish(m_keyText, std::move(text), &OnboardingModel::keyTextChanged);
    // A changed token is checked again even while an older check runs: its result will be dropped.
    if (TelegramSetup::extractKey(m_keyText))
        checkKey();
}

void OnboardingModel::pasteKey()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    m_keyText.clear(); // so that pasting the same text again checks again
    publish(m_keyText, clipboard ? clipboard->text().toStdString() : std::string(),
        &OnboardingModel::keyTextChanged);
    checkKey();
}

void OnboardingModel::checkKey()
{
    const long check = ++m_check;
    const auto key = TelegramSetup::extractKey(m_keyText);
    if (!key) {
        publish(m_keyState, m_keyText.empty() ? KeyState::empty : KeyState::bad,
            &OnboardingModel::keyStateChanged);
        return;
    }
    publish(m_keyState, KeyState::checking, &OnboardingModel::keyStateChanged);
    m_work.async([this, shared = m_shared, key = *key, check] {
        std::optional<TelegramSetup::Bot> bot;
        KeyState failure = KeyState::offline;
        try {
            bot = TelegramSetup::getMe(key, shared->api);
        } catch (const TelegramSetup::Failure& error) {
            failure = stateFor(error.kind());
        } catch (...) {
        }
        post([this, key, bot, failure, check] {
            if (check != m_check)
                return;
            if (bot)
                accept(key, *bot, check);
            else
                publish(m_keyState, failure, &OnboardingModel::keyStateChanged);
        });
    });
}

// Stores a checked token. The chat stays confirmed when the same bot's token is entered again.
void OnboardingModel::accept(const std::string& key, const TelegramSetup::Bot& bot, long check)
{
    QPointer<OnboardingModel> weak(this);
    m_app.readToken([this, weak, key, bot, check](OptionalText stored) {
        if (!weak || check != m_check)
            return;
        m_app.saveToken(key, [this, weak, key, bot, check, stored](OptionalText error) {
            if (!weak || check != m_check)
                return;
            if (error) {
                publish(m_keyState, KeyState::offline, &OnboardingModel::keyStateChanged);
                log("onboarding: não gravou a chave no Keychain: " + *error);
                return;
            }
            const bool newBot = !stored || botID(*stored) != botID(key);
            if (newBot)
                m_app.requireChatConfirmation();
            publish(m_bot, OptionalBot(bot), &OnboardingModel::botChanged);
            publish(m_keyState, KeyState::ok, &OnboardingModel::keyStateChanged);
            publish(m_keyText, std::string(), &OnboardingModel::keyTextChanged);
            publish(m_replacingBot, false, &OnboardingModel::replacingBotChanged);
            if (newBot)
                publish(m_connectAnother, true, &OnboardingModel::connectAnotherChanged);
            log("onboarding: bot @" + bot.username + " validado e guardado no Keychain");
        });
    });
}

void OnboardingModel::loadExistingBot()
{
    if (m_bot || m_replacingBot)
        return;
    const long check = ++m_check;
    QPointer<OnboardingModel> weak(this);
    m_app.readToken([this, weak, check](OptionalText token) {
        if (!weak || !token || check != m_check)
            return;
        publish(m_keyState, KeyState::checking, &OnboardingModel::keyStateChanged);
        m_work.async([this, shared = m_shared, key = *token, check] {
            std::optional<TelegramSetup::Bot> bot;
            try {
                bot = TelegramSetup::getMe(key, shared->api);
            } catch (...) {
            }
            post([this, bot, check] {
                if (check != m_check)
                    return;
                publish(m_bot, bot, &OnboardingModel::botChanged);
                publish(m_keyState, bot ? KeyState::ok : KeyState::empty, &OnboardingModel::keyStateChanged);
            });
        });
    });
}

void OnboardingModel::useOtherBot()
{
    ++m_check;
    publish(m_replacingBot, true, &OnboardingModel::replacingBotChanged);
    publish(m_bot, OptionalBot(), &OnboardingModel::botChanged);
    publish(m_keyState, KeyState::empty, &OnboardingModel::keyStateChanged);
    publish(m_keyText, std::string(), &OnboardingModel::keyTextChanged);
}

void OnboardingModel::brandBot()
{
    const TelegramSetup::Profile profile { std::string(Brand::name) + " Alerts",
        L::t(K::tgBotDescription, { Brand::name }), L::t(K::tgBotShort, { Brand::name }) };
    QPointer<OnboardingModel> weak(this);
    m_app.readToken([this, weak, profile](OptionalText token) {
        if (!weak || !token)
            return;
        m_work.async([shared = m_shared, key = *token, profile] {
            std::string line;
            try {
                const auto result = TelegramSetup::brandIfFresh(key, profile, botPhotoJPEG(), shared->api);
                if (result.skipped) {
                    line = "bot já personalizado: nome e foto mantidos";
                } else if (result.failed.empty()) {
                    line = "bot configurado";
                } else {
                    line = "bot configurado; falhou: ";
                    for (std::size_t i = 0; i < result.failed.size(); ++i)
                        line += (i ? ", " : "") + result.failed[i];
                }
            } catch (...) {
                line = "bot: não foi possível configurar agora";
            }
            shared->log(line);
        });
    });
}

void OnboardingModel::copyNewBot()
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QStringLiteral("/newbot"));
    publish(m_copied, true, &OnboardingModel::copiedChanged);
    m_copiedReset.start();
}

void OnboardingModel::copyUsername()
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(m_suggestedUsername));
    publish(m_copiedUsername, true, &OnboardingModel::copiedUsernameChanged);
    m_copiedUsernameReset.start();
}

// Pairing.

void OnboardingModel::startPairing()
{
    const long gen = ++m_shared->generation;
    const double deadline = m_shared->clock->now() + kCodeLifetime;
    publish(m_candidate, OptionalCandidate(), &OnboardingModel::candidateChanged);
    publish(m_expired, false, &OnboardingModel::expiredChanged);
    publish(m_code, TelegramSetup::makeCode(), &OnboardingModel::codeChanged);
    publish(m_deadline, OptionalDeadline(deadline), &OnboardingModel::deadlineChanged);
    m_expiry.start(static_cast<int>(kCodeLifetime * 1000));
    publish(m_pairing, true, &OnboardingModel::pairingChanged);
    if (!m_pollClaim)
        m_pollClaim = std::make_unique<PollLease::Claim>(m_shared->lease);

    QPointer<OnboardingModel> weak(this);
    m_app.readToken([this, weak, gen, deadline, code = m_code](OptionalText token) {
        if (!weak || !token || gen != m_shared->generation)
            return;
        if (!m_bot) {
            m_work.async([this, shared = m_shared, key = *token] {
                std::optional<TelegramSetup::Bot> bot;
                try {
                    bot = TelegramSetup::getMe(key, shared->api);
                } catch (...) {
                }
                if (bot)
                    post([this, bot] {
                        if (!m_bot)
                            publish(m_bot, bot, &OnboardingModel::botChanged);
                    });
            });
        }
        m_work.async(
            [this, key = *token, code, deadline, gen] { pollRound(key, code, deadline, std::nullopt, gen); });
    });
}

// One round of the pairing loop, on the work queue. It never waits for the main thread: the generation is
// an atomic, and every report is checked again on arrival.
void OnboardingModel::pollRound(
    std::string key, std::string code, double deadline, std::optional<std::int64_t> offset, long gen)
{
    const auto& shared = m_shared;
    if (gen != shared->generation || shared->http->cancelled())
        return;
    if (shared->clock->now() > deadline) {
        post([this, gen] {
            if (gen == m_shared->generation)
                publish(m_expired, true, &OnboardingModel::expiredChanged);
        });
        return;
    }
    try {
        const auto batch = [&] {
            const PollLease::Turn turn(*shared->lease, [&] { return shared->http->cancelled(); });
            return TelegramSetup::updates(key, offset, kLongPoll, shared->api);
        }();
        if (auto found = TelegramSetup::match(batch.updates, code)) {
            if (gen != shared->generation)
                return;
            shared->log("onboarding: código recebido de um chat privado");
            post([this, gen, found] {
                if (gen == m_shared->generation)
                    publish(m_candidate, found, &OnboardingModel::candidateChanged);
            });
            return;
        }
        m_work.async([=, this, next = batch.nextOffset] { pollRound(key, code, deadline, next, gen); });
    } catch (...) {
        // Refusals and network trouble look the same to the user: try again shortly.
        m_work.asyncAfter(kRetryAfter, [=, this] { pollRound(key, code, deadline, offset, gen); });
    }
}

void OnboardingModel::expireIfDue()
{
    if (!m_deadline || m_candidate)
        return;
    if (m_shared->clock->now() < *m_deadline) {
        m_expiry.start(static_cast<int>((*m_deadline - m_shared->clock->now()) * 1000) + 1);
        return;
    }
    ++m_shared->generation; // the loop stops at its next round
    m_pollClaim.reset();
    publish(m_expired, true, &OnboardingModel::expiredChanged);
}

void OnboardingModel::stopPairing()
{
    ++m_shared->generation;
    m_pollClaim.reset();
    m_expiry.stop();
    publish(m_pairing, false, &OnboardingModel::pairingChanged);
}

std::optional<std::string> OnboardingModel::botLink() const
{
    return m_bot ? TelegramSetup::startLink(m_bot->username, m_code) : std::nullopt;
}

void OnboardingModel::openBot()
{
    if (const auto link = botLink())
        QDesktopServices::openUrl(QUrl(QString::fromStdString(*link)));
}

void OnboardingModel::confirmCandidate()
{
    if (!m_candidate || m_confirming)
        return;
    publish(m_confirming, true, &OnboardingModel::confirmingChanged);
    QPointer<OnboardingModel> weak(this);
    m_app.confirmChat(m_candidate->chatID, m_candidate->label(), [weak](bool stored) {
        if (!weak)
            return;
        weak->publish(weak->m_confirming, false, &OnboardingModel::confirmingChanged);
        // A failed save leaves the candidate on screen with the model's save-failure notice.
        if (!stored)
            return;
        weak->publish(weak->m_connectAnother, false, &OnboardingModel::connectAnotherChanged);
        weak->log("onboarding: chat confirmado");
        weak->brandBot();
        if (weak->m_step == ObStep::confirm)
            weak->go(ObStep::test);
    });
}

void OnboardingModel::connectAnotherChat()
{
    publish(m_connectAnother, true, &OnboardingModel::connectAnotherChanged);
    startPairing();
}

// Test and finish.

void OnboardingModel::sendTest()
{
    publish(m_testState, TestState { TestState::Kind::sending, {} }, &OnboardingModel::testStateChanged);
    const Settings& settings = m_app.settings();
    const std::string label = settings.chatConfirmed && settings.chatLabel && !settings.chatLabel->empty()
        ? *settings.chatLabel
        : "Telegram";
    QPointer<OnboardingModel> weak(this);
    m_app.runner().sendTest(label, [this, weak, label](bool ok, const std::string& text) {
        if (weak)
            publish(m_testState,
                TestState { ok ? TestState::Kind::sent : TestState::Kind::failed, ok ? label : text },
                &OnboardingModel::testStateChanged);
    });
}

void OnboardingModel::leave()
{
    stopPairing();
    publish(m_keyText, std::string(), &OnboardingModel::keyTextChanged);
    m_app.setEditingArea(false);
    if (m_app.mode() == Mode::preview && !m_app.monitoringWanted()) {
        m_app.setPreviewOn(false);
        m_app.applyMode();
    }
}

void OnboardingModel::finish(bool startProtecting)
{
    leave();
    if (auto done = std::exchange(finished, nullptr))
        done(startProtecting);
}

} // namespace vardel
