#pragma once

// moc cannot parse <compare> and the JSON library; it needs only the names.
#ifndef Q_MOC_RUN
#include "AppLanguage.h"
#include "CancellablePoster.h"
#include "Clock.h"
#include "DetectionMode.h"
#include "PollLease.h"
#include "ROI.h"
#include "SerialQueue.h"
#include "TelegramSetup.h"
#endif

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vardel {

class Model;

enum class ObStep { language, intro, camera, area, alerts, telegram, confirm, test, done };

using OptionalROI = std::optional<ROI>;
using OptionalBot = std::optional<TelegramSetup::Bot>;
using OptionalCandidate = std::optional<TelegramSetup::Candidate>;
using OptionalDeadline = std::optional<double>;

// The first-run flow over the application model: language, camera, area, alert kind, the bot's token,
// pairing the alert chat with a six-digit code, a test alert. Published fields are properties with change
// signals, all changed on the main thread. Bot API calls run on "vardel.onboarding" and token reads and
// writes on the model's keyring queue; every result is posted back guarded, so nothing happens once this
// object is gone. Destruction cancels any call in flight (a long poll included) and returns at once.
// The owner must not destroy it from inside `finished`: release it with deleteLater().
class OnboardingModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(vardel::ObStep step READ step NOTIFY stepChanged)
    Q_PROPERTY(
        vardel::OnboardingModel::CameraStatus cameraStatus READ cameraStatus NOTIFY cameraStatusChanged)
    Q_PROPERTY(bool areaPart READ areaPart WRITE setAreaPart NOTIFY areaPartChanged)
    Q_PROPERTY(vardel::OptionalROI draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(std::string keyText READ keyText WRITE setKeyText NOTIFY keyTextChanged)
    Q_PROPERTY(vardel::OnboardingModel::KeyState keyState READ keyState NOTIFY keyStateChanged)
    Q_PROPERTY(vardel::OptionalBot bot READ bot NOTIFY botChanged)
    Q_PROPERTY(bool replacingBot READ replacingBot NOTIFY replacingBotChanged)
    Q_PROPERTY(bool copied READ copied NOTIFY copiedChanged)
    Q_PROPERTY(bool copiedUsername READ copiedUsername NOTIFY copiedUsernameChanged)
    Q_PROPERTY(std::string code READ code NOTIFY codeChanged)
    Q_PROPERTY(vardel::OptionalDeadline deadline READ deadline NOTIFY deadlineChanged)
    Q_PROPERTY(vardel::OptionalCandidate candidate READ candidate NOTIFY candidateChanged)
    Q_PROPERTY(bool expired READ expired NOTIFY expiredChanged)
    Q_PROPERTY(bool connectAnother READ connectAnother NOTIFY connectAnotherChanged)
    Q_PROPERTY(vardel::OnboardingModel::TestState testState READ testState NOTIFY testStateChanged)
    Q_PROPERTY(bool pairing READ pairing NOTIFY pairingChanged)
    Q_PROPERTY(bool confirming READ confirming NOTIFY confirmingChanged)

public:
    enum class KeyState { empty, checking, ok, bad, rejected, offline };
    // A camera node that opens is authorized; one refused by permissions (EACCES, EPERM) is denied.
    enum class CameraStatus { authorized, denied };

    struct TestState {
        enum class Kind { idle, sending, sent, failed };
        Kind kind = Kind::idle;
        std::string text; // the chat label when sent, the error text when failed

        bool operator==(const TestState&) const = default;
    };

    struct Options {
        // The Bot API address; by default the user default "BotAPIURL" when allowed, else the public one.
        std::optional<std::string> endpoint;
        std::shared_ptr<const Clock> clock;
        // The user's full name for the suggested bot username; by default from the password database.
        std::optional<std::string> fullName;
    };

    explicit OnboardingModel(Model& app, Options options = {}, QObject* parent = nullptr);
    ~OnboardingModel() override;

    // Called once when the flow ends; true asks to start protecting.
    std::function<void(bool)> finished;

    ObStep step() const { return m_step; }
    CameraStatus cameraStatus() const { return m_cameraStatus; }
    bool areaPart() const { return m_areaPart; }
    const OptionalROI& draft() const { return m_draft; }
    const std::string& keyText() const { return m_keyText; }
    KeyState keyState() const { return m_keyState; }
    const OptionalBot& bot() const { return m_bot; }
    bool replacingBot() const { return m_replacingBot; }
    bool copied() const { return m_copied; }
    bool copiedUsername() const { return m_copiedUsername; }
    const std::string& code() const { return m_code; }
    OptionalDeadline deadline() const { return m_deadline; }
    const OptionalCandidate& candidate() const { return m_candidate; }
    bool expired() const { return m_expired; }
    bool connectAnother() const { return m_connectAnother; }
    const TestState& testState() const { return m_testState; }
    const std::string& suggestedUsername() const { return m_suggestedUsername; }
    // A code is offered in this visit of the confirm step (waiting, found or expired); false while the step
    // only offers to keep the confirmed chat.
    bool pairing() const { return m_pairing; }
    // The confirmed chat is being stored; the step moves on once it is.
    bool confirming() const { return m_confirming; }

    // Steps.
    void go(ObStep step);
    // The forward button: the area step saves first; the confirm step moves on only by its own actions
    // and the telegram step only with a bot.
    void next();
    void back();

    // Language, camera, area, alerts.
    void chooseLanguage(AppLanguage language);
    void requestCamera();
    void setAreaPart(bool on);
    void setDraft(OptionalROI draft);
    bool canSaveArea() const;
    void saveArea();
    void setDetectionMode(DetectionMode mode);

    // The bot.
    void setKeyText(std::string text);
    void pasteKey();
    void checkKey();
    void loadExistingBot();
    void useOtherBot();
    void brandBot();
    void copyNewBot();
    void copyUsername();

    // Pairing and the confirm step.
    void startPairing();
    // The link that opens the bot with the code; none while the bot is unknown.
    std::optional<std::string> botLink() const;
    void openBot();
    void confirmCandidate();
    void refuseCandidate() { startPairing(); }
    void connectAnotherChat();
    void keepChat() { go(ObStep::test); }

    // Test and finish.
    void sendTest();
    void leave();
    void finish(bool startProtecting);

signals:
    void stepChanged();
    void cameraStatusChanged();
    void areaPartChanged();
    void draftChanged();
    void keyTextChanged();
    void keyStateChanged();
    void botChanged();
    void replacingBotChanged();
    void copiedChanged();
    void copiedUsernameChanged();
    void codeChanged();
    void deadlineChanged();
    void candidateChanged();
    void expiredChanged();
    void connectAnotherChanged();
    void testStateChanged();
    void pairingChanged();
    void confirmingChanged();

private:
    // What the work queue's tasks share with this object; it may outlive it.
    struct Shared {
        std::shared_ptr<CancellablePoster> http = std::make_shared<CancellablePoster>();
        TelegramSetup::Connection api;
        std::shared_ptr<const Clock> clock;
        std::atomic<long> generation { 0 };
        std::function<void(const std::string&)> log;
        // Shared with the chat command poller: one getUpdates poll on the bot at a time.
        std::shared_ptr<PollLease> lease;
    };

    template <typename T, typename Signal> void publish(T& field, T value, Signal signal)
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*signal)();
    }
    // Runs `work` on the main thread unless this object is gone by then. Any thread.
    void post(std::function<void()> work);
    void pollRound(
        std::string key, std::string code, double deadline, std::optional<std::int64_t> offset, long gen);
    void accept(const std::string& key, const TelegramSetup::Bot& bot, long check);
    void expireIfDue();
    void stopPairing();
    void refreshCamera();
    void log(const std::string& line);

    Model& m_app;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();

    ObStep m_step = ObStep::language;
    CameraStatus m_cameraStatus = CameraStatus::authorized;
    bool m_areaPart = false;
    OptionalROI m_draft;
    std::string m_keyText;
    KeyState m_keyState = KeyState::empty;
    OptionalBot m_bot;
    bool m_replacingBot = false;
    bool m_copied = false;
    bool m_copiedUsername = false;
    std::string m_code;
    OptionalDeadline m_deadline;
    OptionalCandidate m_candidate;
    bool m_expired = false;
    bool m_connectAnother = false;
    TestState m_testState;
    std::string m_suggestedUsername;
    bool m_pairing = false;
    bool m_confirming = false;

    // Each token check (and each change of mind) gets a number; only the latest may report.
    long m_check = 0;
    // Held while pairing runs, so that the chat command poller stays idle.
    std::unique_ptr<PollLease::Claim> m_pollClaim;
    QTimer m_expiry;
    QTimer m_copiedReset;
    QTimer m_copiedUsernameReset;
    // Declared last, so joined first, while everything its tasks post to still exists.
    SerialQueue m_work { "vardel.onboarding" };
};

} // namespace vardel
