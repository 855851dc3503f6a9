#pragma once

#include "AlertSink.h"
#include "Analyzer.h"
#include "CameraChoice.h"
#include "CameraSource.h"
#include "CameraWatch.h"
#include "ChatCommands.h"
#include "CoverCheck.h"
#include "DetectionMode.h"
#include "EventKind.h"
#include "FormatReclaimer.h"
#include "HealthMonitor.h"
#include "Mode.h"
#include "Paths.h"
#include "PersonBox.h"
#include "Phase.h"
#include "ROI.h"
#include "SerialQueue.h"
#include "Settings.h"
#include "StatusPresentation.h"
#include "Updates.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

class CameraSource;
class CaptureService;
class CommandPoller;
class Clock;
class ClipRecorder;
class DeviceMonitor;
class KeychainToken;
class Log;
class ModeMachine;
class Outbox;
class PersonDetecting;
class PollLease;
class PowerGuard;
class QtMainExecutor;
class QueueRunner;
class SecretStore;
class SettingsStore;
class SleepWatch;
class SystemState;

using OptionalTime = std::optional<double>;
using OptionalText = std::optional<std::string>;
using OptionalFlag = std::optional<bool>;
using OptionalKind = std::optional<EventKind>;
using OptionalFile = std::optional<std::filesystem::path>;
using PersonBoxes = std::vector<PersonBox>;
using CameraList = std::vector<CameraChoice::Camera>;
using OptionalRelease = std::optional<Updates::Release>;

// The running application: owns the camera capture, analyzer, clip recorder, settings store, outbox, queue
// runner, bot token, power guard and camera watchers, drives the mode machine, runs the half-second main
// loop and turns detections into alerts in the outbox. Every published field is a property with a change
// signal. Main thread only; components report back through the Qt event loop and their callbacks do nothing
// once the model is gone. Times are seconds since 1970.
class Model final : public QObject, public AlertSink {
    Q_OBJECT
    Q_PROPERTY(bool previewOn READ previewOn WRITE setPreviewOn NOTIFY previewOnChanged)
    Q_PROPERTY(bool monitoringWanted READ monitoringWanted NOTIFY monitoringWantedChanged)
    Q_PROPERTY(vardel::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(bool permissionDenied READ permissionDenied NOTIFY permissionDeniedChanged)
    Q_PROPERTY(bool cameraFresh READ cameraFresh NOTIFY cameraFreshChanged)
    Q_PROPERTY(bool powerHeld READ powerHeld NOTIFY powerHeldChanged)
    Q_PROPERTY(vardel::OptionalFlag telegramOK READ telegramOK NOTIFY telegramOKChanged)
    Q_PROPERTY(double level READ level NOTIFY levelChanged)
    Q_PROPERTY(int queue READ queue NOTIFY queueChanged)
    Q_PROPERTY(vardel::OptionalTime lastEvent READ lastEvent NOTIFY lastEventChanged)
    Q_PROPERTY(double sensitivity READ sensitivity NOTIFY sensitivityChanged)
    Q_PROPERTY(vardel::ROI roi READ roi NOTIFY roiChanged)
    Q_PROPERTY(vardel::ROI currentROI READ currentROI NOTIFY currentROIChanged)
    Q_PROPERTY(double frameAspect READ frameAspect NOTIFY frameAspectChanged)
    Q_PROPERTY(std::string resolution READ resolution NOTIFY resolutionChanged)
    Q_PROPERTY(vardel::OptionalText formatInfo READ formatInfo NOTIFY formatInfoChanged)
    Q_PROPERTY(vardel::DetectionMode detectionMode READ detectionMode NOTIFY detectionModeChanged)
    Q_PROPERTY(vardel::OptionalKind lastEventKind READ lastEventKind NOTIFY lastEventKindChanged)
    Q_PROPERTY(vardel::StatusPresentation presentation READ presentation NOTIFY presentationChanged)
    Q_PROPERTY(vardel::PersonBoxes personBoxes READ personBoxes NOTIFY personBoxesChanged)
    Q_PROPERTY(vardel::OptionalTime personAt READ personAt NOTIFY personAtChanged)
    Q_PROPERTY(vardel::OptionalFile lastPhotoFile READ lastPhotoFile NOTIFY lastPhotoFileChanged)
    Q_PROPERTY(vardel::OptionalTime lastPhotoSentAt READ lastPhotoSentAt NOTIFY lastPhotoSentAtChanged)
    Q_PROPERTY(bool photoPending READ photoPending NOTIFY photoPendingChanged)
    Q_PROPERTY(vardel::OptionalFlag onAC READ onAC NOTIFY onACChanged)
    Q_PROPERTY(bool editingArea READ editingArea WRITE setEditingArea NOTIFY editingAreaChanged)
    Q_PROPERTY(vardel::OptionalTime monitorSince READ monitorSince NOTIFY monitorSinceChanged)
    Q_PROPERTY(std::string chatLabel READ chatLabel NOTIFY chatLabelChanged)
    Q_PROPERTY(vardel::OptionalText telegramResult READ telegramResult NOTIFY telegramResultChanged)
    Q_PROPERTY(bool telegramBusy READ telegramBusy NOTIFY telegramBusyChanged)
    Q_PROPERTY(bool telegramFailed READ telegramFailed NOTIFY telegramFailedChanged)
    Q_PROPERTY(vardel::OptionalText notice READ notice WRITE setNotice NOTIFY noticeChanged)
    Q_PROPERTY(vardel::AppLanguage language READ language NOTIFY languageChanged)
    Q_PROPERTY(vardel::CameraList cameras READ cameras NOTIFY camerasChanged)
    Q_PROPERTY(bool cameraCovered READ cameraCovered NOTIFY cameraCoveredChanged)
    Q_PROPERTY(vardel::OptionalRelease update READ update WRITE setUpdate NOTIFY updateChanged)

public:
    // What the application is built from; everything left empty gets the real component.
    struct Options {
        Paths paths = Paths::standard();
        // V4L2 cameras by default.
        std::unique_ptr<CameraSource> camera;
        // The keyring (or the private file when the session has no Secret Service) by default.
        std::shared_ptr<SecretStore> secrets;
        // The OpenCV detector with the models found for the data folder by default.
        std::unique_ptr<PersonDetecting> vision;
        // The Bot API address; by default the user default "BotAPIURL" when allowed, else the public one.
        std::optional<std::string> endpoint;
        std::shared_ptr<const Clock> clock;
        // logind and UPower; the system bus by default.
        std::optional<QDBusConnection> systemBus;
        // The settings file of `paths` by default.
        std::shared_ptr<SettingsStore> settingsStore;
    };

    // Why the application ends. A quit the user chose forgets protection; any other end (the system
    // shutting down, a signal from the service manager) keeps it on for the next start.
    enum class EndReason { user, system };

    Model();
    explicit Model(Options options);
    ~Model() override;

    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Published state.
    bool previewOn() const { return m_previewOn; }
    bool monitoringWanted() const { return m_monitoringWanted; }
    const Phase& phase() const { return m_phase; }
    bool permissionDenied() const { return m_permissionDenied; }
    bool cameraFresh() const { return m_cameraFresh; }
    bool powerHeld() const { return m_powerHeld; }
    OptionalFlag telegramOK() const { return m_telegramOK; }
    double level() const { return m_level; }
    int queue() const { return m_queue; }
    OptionalTime lastEvent() const { return m_lastEvent; }
    double sensitivity() const { return m_sensitivity; }
    const ROI& roi() const { return m_roi; }
    const ROI& currentROI() const { return m_currentROI; }
    double frameAspect() const { return m_frameAspect; }
    const std::string& resolution() const { return m_resolution; }
    const OptionalText& formatInfo() const { return m_formatInfo; }
    DetectionMode detectionMode() const { return m_detectionMode; }
    OptionalKind lastEventKind() const { return m_lastEventKind; }
    const StatusPresentation& presentation() const { return m_presentation; }
    const PersonBoxes& personBoxes() const { return m_personBoxes; }
    OptionalTime personAt() const { return m_personAt; }
    const OptionalFile& lastPhotoFile() const { return m_lastPhotoFile; }
    OptionalTime lastPhotoSentAt() const { return m_lastPhotoSentAt; }
    bool photoPending() const { return m_photoPending; }
    OptionalFlag onAC() const { return m_onAC; }
    bool editingArea() const { return m_editingArea; }
    OptionalTime monitorSince() const { return m_monitorSince; }
    const std::string& chatLabel() const { return m_chatLabel; }
    const OptionalText& telegramResult() const { return m_telegramResult; }
    bool telegramBusy() const { return m_telegramBusy; }
    bool telegramFailed() const { return m_telegramFailed; }
    const OptionalText& notice() const { return m_notice; }
    AppLanguage language() const { return m_language; }
    const CameraList& cameras() const { return m_cameras; }
    bool cameraCovered() const { return m_cameraCovered; }
    const OptionalRelease& update() const { return m_update; }

    // Setters for the fields others own: the preview (with `applyMode`), the area editor, the notice (the
    // views), the newer release (the update notifier).
    void setPreviewOn(bool on);
    void setEditingArea(bool on);
    void setNotice(OptionalText text);
    void setUpdate(OptionalRelease release);

    // Callbacks the application installs (main thread, no arguments).
    std::function<void()> openSettings;
    std::function<void()> openUpdate;
    std::function<void()> openOnboarding;
    std::function<void()> onLanguageChanged;

    // User operations.
    void togglePreview();
    void toggleMonitoring();
    void beginAreaEdit();
    void applyMode();
    // Orderly stop before quitting; `done` runs on the main thread when everything is flushed. With
    // `EndReason::system` protection that is on comes back on by itself at the next start.
    void shutdown(std::function<void()> done, EndReason reason = EndReason::user);
    void openCameraSettings();
    void openLastPhoto();
    std::string selectedCamera();
    // The camera's latest frame (empty while it is off), for the live picture. Cheap: no copy of pixels.
    Frame latestFrame() const;

    // Settings and Telegram operations. The running program takes a change at once; the settings file is
    // written on a queue of its own, and a write that fails is reported in the notice and undone.
    void reloadSettings();
    void saveReferenceROI(const ROI& reference);
    void sensitivityChanged(double value);
    void setDetectionMode(DetectionMode mode);
    void setCamera(const std::string& name);
    void setLanguage(AppLanguage language);
    // Stores the chat as the confirmed alert chat, then calls `done` on the main thread: false (and the
    // save-failure notice) when it could not be stored, in which case nothing else changes.
    void confirmChat(std::int64_t chatID, const std::string& label, std::function<void(bool stored)> done);
    void requireChatConfirmation();
    void testTelegram();

    // The bot token, read or written on the keyring queue; results arrive on the main thread.
    void readToken(std::function<void(OptionalText token)> done);
    // `done` gets the failure text, or nothing when the token was stored.
    void saveToken(std::string token, std::function<void(OptionalText error)> done);

    // The text alert sink of the mode machine: the text goes into the outbox (off the main thread).
    void enqueueText(const std::string& text) override;

    // A command from the paired chat; the answer goes to the chat through the outbox.
    void obey(ChatCommand command);
    // Taken by the pairing loop so that only one getUpdates poll is open on the bot at a time.
    const std::shared_ptr<PollLease>& pollLease() const { return m_pollLease; }

    // Internals the application and tests look at.
    Mode mode() const;
    const Settings& settings() const { return m_settings; }
    const Paths& paths() const { return m_paths; }
    // Where the settings file was copied at start because it could not be read (it loads as the defaults).
    const OptionalFile& unreadableSettingsCopy() const { return m_unreadableSettingsCopy; }
    Log& log() { return *m_log; }
    Outbox& outbox() { return *m_outbox; }
    QueueRunner& runner() { return *m_runner; }
    // One main-loop step; runs on its own every 0.5 s.
    void tick();

signals:
    void previewOnChanged();
    void monitoringWantedChanged();
    void phaseChanged();
    void permissionDeniedChanged();
    void cameraFreshChanged();
    void powerHeldChanged();
    void telegramOKChanged();
    void levelChanged();
    void queueChanged();
    void lastEventChanged();
    void sensitivityChanged();
    void roiChanged();
    void currentROIChanged();
    void frameAspectChanged();
    void resolutionChanged();
    void formatInfoChanged();
    void detectionModeChanged();
    void lastEventKindChanged();
    void presentationChanged();
    void personBoxesChanged();
    void personAtChanged();
    void lastPhotoFileChanged();
    void lastPhotoSentAtChanged();
    void photoPendingChanged();
    void onACChanged();
    void editingAreaChanged();
    void monitorSinceChanged();
    void chatLabelChanged();
    void telegramResultChanged();
    void telegramBusyChanged();
    void telegramFailedChanged();
    void noticeChanged();
    void languageChanged();
    void camerasChanged();
    void cameraCoveredChanged();
    void updateChanged();

private:
    class Sending;

    template <typename T, typename Signal> void publish(T& field, T value, Signal signal)
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*signal)();
    }

    double now() const;
    std::optional<double> armedSince() const;
    StatusPresentation makePresentation(double now) const;
    ROI mapped(const ROI& reference) const;
    void installCallbacks();
    void withCameraPermission(std::function<void()> action);
    void denyCamera();
    void refreshCameras();
    void checkCameraPresence();
    void refreshPlatformState(bool refreshPower);
    void reportUnreadableSettings();
    void queueItem(std::string kind, std::string text, OptionalText file);
    void runSensitivitySave();
    void notifySaveFailed(const std::string& error);
    void applySettings();
    void saveSettings(std::function<void(Settings&)> change, std::function<void(bool stored)> done = {});
    void settingsWritten(const std::optional<Settings>& stored, const std::string& error);

    // Chat commands and alerts about the computer.
    void startRemote(const Options& options);
    void resumeIfWished();
    void rememberProtection(bool protecting, double aliveAt);
    void checkCover(Mode current, double at);
    void sleepChanged(bool goingToSleep);
    void sendPhotoNow();

    // Frame results, events, photos and clips.
    void handle(const Analyzer::Output& output);
    void event(EventKind kind, double level, double at, PersonBoxes people);
    void savePhoto(double at, const std::optional<QByteArray>& data);
    void clipReady(OptionalFile file, double at);

    // Published state.
    bool m_previewOn = false;
    bool m_monitoringWanted = false;
    Phase m_phase;
    bool m_permissionDenied = false;
    bool m_cameraFresh = false;
    bool m_powerHeld = false;
    OptionalFlag m_telegramOK;
    double m_level = 0;
    int m_queue = 0;
    OptionalTime m_lastEvent;
    double m_sensitivity = 6;
    ROI m_roi = ROI::full();
    ROI m_currentROI = ROI::full();
    double m_frameAspect = 16.0 / 9.0;
    std::string m_resolution = "-";
    OptionalText m_formatInfo;
    DetectionMode m_detectionMode = DetectionMode::person;
    OptionalKind m_lastEventKind;
    StatusPresentation m_presentation;
    PersonBoxes m_personBoxes;
    OptionalTime m_personAt;
    OptionalFile m_lastPhotoFile;
    OptionalTime m_lastPhotoSentAt;
    bool m_photoPending = false;
    OptionalFlag m_onAC;
    bool m_editingArea = false;
    OptionalTime m_monitorSince;
    std::string m_chatLabel = "-";
    OptionalText m_telegramResult;
    bool m_telegramBusy = false;
    bool m_telegramFailed = false;
    OptionalText m_notice;
    AppLanguage m_language = AppLanguage::en;
    CameraList m_cameras;
    bool m_cameraCovered = false;
    OptionalRelease m_update;

    // Plain state, main thread.
    Paths m_paths;
    std::shared_ptr<const Clock> m_clock;
    // What the program runs with, and what the settings file held after the last write.
    Settings m_settings;
    Settings m_storedSettings;
    int m_settingsWritesPending = 0;
    int m_frameW = 0;
    int m_frameH = 0;
    int m_visionChecks = 0;
    int m_discarded = 0;
    FormatReclaimer m_reclaimer;
    HealthMonitor m_health;
    OptionalText m_appFailure;
    CameraWatch m_cameraWatch;
    CoverCheck::Tracker m_coverTracker;
    bool m_resumedFromMissing = false;
    QTimer m_timer;
    QTimer m_sensitivityWork;
    long m_tickCount = 0;
    std::map<double, std::string> m_pendingCaptions;
    OptionalFile m_lastPhotoJob;
    bool m_powerQueryInFlight = false;
    bool m_shuttingDown = false;
    OptionalFile m_unreadableSettingsCopy;
    bool m_chatUnreachable = false;
    std::optional<CameraOpenFailure> m_openFailure;
    OptionalText m_storageFault;
    bool m_forgetProtection = true;
    double m_aliveWrittenAt = 0;
    OptionalTime m_coveredSince;
    bool m_coverReported = false;
    OptionalTime m_asleepSince;

    // Components, destroyed in reverse order: the machine and the camera first, the log last.
    std::unique_ptr<Log> m_log;
    std::shared_ptr<QtMainExecutor> m_main;
    std::shared_ptr<SettingsStore> m_store;
    std::shared_ptr<Outbox> m_outbox;
    std::shared_ptr<KeychainToken> m_token;
    std::unique_ptr<QueueRunner> m_runner;
    std::unique_ptr<Sending> m_sending;
    std::unique_ptr<ClipRecorder> m_recorder;
    std::unique_ptr<Analyzer> m_analyzer;
    std::unique_ptr<PowerGuard> m_power;
    std::unique_ptr<SystemState> m_status;
    std::unique_ptr<CaptureService> m_capture;
    std::unique_ptr<DeviceMonitor> m_devices;
    std::unique_ptr<ModeMachine> m_machine;
    std::shared_ptr<PollLease> m_pollLease;
    std::unique_ptr<CommandPoller> m_commands;
    std::unique_ptr<SleepWatch> m_sleepWatch;

    // Keyring calls, outbox and settings writes. Declared last, so destroyed first: their pending work
    // finishes while everything it uses still exists.
    SerialQueue m_keyring { "vardel.keyring" };
    SerialQueue m_writes { "vardel.outbox" };
    SerialQueue m_settingsWrites { "vardel.settings.write" };
};

} // namespace vardel
