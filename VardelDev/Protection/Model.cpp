#include "Model.h"

#include "AppInfo.h"
#include "AtomicFile.h"
#include "BotTokenStore.h"
#include "Brand.h"
#include "Captions.h"
#include "CaptureService.h"
#include "ClipRecorder.h"
#include "Clock.h"
#include "CommandPoller.h"
#include "DeviceMonitor.h"
#include "Error.h"
#include "EventFiles.h"
#include "FrameGeometry.h"
#include "KeychainToken.h"
#include "L.h"
#include "Lifecycle.h"
#include "Log.h"
#include "ModeMachine.h"
#include "Outbox.h"
#include "PollLease.h"
#include "PowerGuard.h"
#include "QtMainExecutor.h"
#include "QueueControl.h"
#include "QueueRunner.h"
#include "ResumeState.h"
#include "SecretStore.h"
#include "SensitivityLevel.h"
#include "SettingsStore.h"
#include "SleepWatch.h"
#include "SystemState.h"
#include "TelegramClient.h"
#include "V4L2CameraSource.h"
#include "V4L2SystemIo.h"
#include "VisionPersonDetector.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLocale>
#include <QPointer>
#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <span>

namespace vardel {

namespace fs = std::filesystem;

namespace {

    constexpr int kTickMs = 500;
    constexpr double kWarmup = 4.0;
    constexpr double kRecentWindow = 600;
    constexpr double kRecoveredNoticeFor = 20;
    constexpr int kPowerEveryTicks = 10;
    constexpr int kSensitivityDelayMs = 500;
    // The heartbeat in the data folder is renewed at most this often while protection is wanted.
    constexpr double kAliveEvery = 60;
    // A lens covered this long while protecting is reported to the chat.
    constexpr double kCoveredFor = 10;

    std::string sizeText(int width, int height)
    {
        return std::to_string(width) + "\u00d7" + std::to_string(height);
    }

    // The newest modification time among the event photos, if there is any.
    std::optional<double> newestPhotoTime(const fs::path& events)
    {
        std::optional<double> newest;
        std::error_code error;
        for (fs::recursive_directory_iterator it(events, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() != ".jpg" || !it->is_regular_file(error))
                continue;
            const auto stamp = fs::last_write_time(it->path(), error);
            if (error)
                continue;
            const auto system = std::chrono::file_clock::to_sys(stamp);
            const double seconds = std::chrono::duration<double>(system.time_since_epoch()).count();
            newest = std::max(newest.value_or(seconds), seconds);
        }
        return newest;
    }

    std::optional<fs::path> newestPhotoFile(const fs::path& events)
    {
        std::optional<fs::path> newest;
        fs::file_time_type newestTime;
        std::error_code error;
        for (fs::recursive_directory_iterator it(events, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() != ".jpg")
                continue;
            const auto stamp = fs::last_write_time(it->path(), error);
            if (!error && (!newest || stamp > newestTime)) {
                newest = it->path();
                newestTime = stamp;
            }
        }
        return newest;
    }

    // The chat is read from the settings file at every request, so a chat confirmed meanwhile counts.
    TelegramClient::ChatSource confirmedChat(SettingsStore* store)
    {
        return [store]() -> std::optional<std::int64_t> {
            const Settings stored = store->load();
            return stored.chatConfirmed ? stored.chatID : std::nullopt;
        };
    }

    std::string brandTime(K key, double now)
    {
        return L::t(key, { Brand::name, Captions::hourMinute(now, L::language()) });
    }

} // namespace

// The alert sender as quitting sees it: a flush begins only after the outbox writes queued so far (the
// "protection off" text among them) are on disk.
class Model::Sending final : public QueueControl {
public:
    Sending(QueueRunner& runner, SerialQueue& writes)
        : m_runner(runner)
        , m_writes(writes)
    {
    }
    void startSending() override { m_runner.startSending(); }
    void stopAndFlush(double timeout, std::function<void()> done) override
    {
        QueueRunner* runner = &m_runner;
        m_writes.async([runner, timeout, done = std::move(done)] { runner->stopAndFlush(timeout, done); });
    }

private:
    QueueRunner& m_runner;
    SerialQueue& m_writes;
};

Model::Model()
    : Model(Options {})
{
}

Model::Model(Options options)
    : m_paths(std::move(options.paths))
    , m_clock(options.clock ? options.clock : std::make_shared<SystemClock>())
{
    // Published defaults.
    m_presentation = makePresentation(now());

    // Components.
    m_log = std::make_unique<Log>(m_paths.logs(), m_clock);
    m_main = std::make_shared<QtMainExecutor>(this);
    m_store
        = options.settingsStore ? options.settingsStore : std::make_shared<SettingsStore>(m_paths.config());
    m_outbox = std::make_shared<Outbox>(m_paths.outbox(), m_clock);
    std::shared_ptr<SecretStore> secrets = options.secrets;
    if (!secrets)
        secrets = std::make_shared<BotTokenStore>(m_paths, *m_log);
    m_token = std::make_shared<KeychainToken>(secrets);

    QueueRunner::Dependencies sending;
    sending.outbox = m_outbox;
    sending.token = [token = m_token] { return token->get(); };
    sending.chatID = confirmedChat(m_store.get());
    sending.main = m_main;
    sending.log = [log = m_log.get()](const std::string& line) { log->info("fila: " + line); };
    sending.endpoint
        = TelegramClient::endpointFrom(options.endpoint ? options.endpoint : AppInfo::botAPIURL());
    sending.clock = m_clock;
    m_runner = std::make_unique<QueueRunner>(std::move(sending));
    m_sending = std::make_unique<Sending>(*m_runner, m_writes);

    m_recorder = std::make_unique<ClipRecorder>(m_paths, *m_log, *m_main);
    auto vision = std::move(options.vision);
    if (!vision) {
        vision = std::make_unique<VisionPersonDetector>(VisionPersonDetector::findModels(m_paths.data()),
            [weak = QPointer<Model>(this), main = m_main, log = m_log.get()](const std::string& problem) {
                log->info("visão: " + problem);
                main->post([weak, problem] {
                    if (weak)
                        weak->setNotice(problem);
                });
            });
    }
    m_analyzer = std::make_unique<Analyzer>(*m_main, std::move(vision));
    const QDBusConnection systemBus = options.systemBus.value_or(QDBusConnection::systemBus());
    m_power = std::make_unique<PowerGuard>(systemBus);
    m_status = std::make_unique<SystemState>(*m_main, systemBus);
    auto camera = std::move(options.camera);
    if (!camera)
        camera = std::make_unique<V4L2CameraSource>(std::make_unique<V4L2SystemIo>());
    m_capture = std::make_unique<CaptureService>(std::move(camera), *m_main, *m_clock,
        [log = m_log.get()](const std::string& line) { log->info(line); });
    QPointer<Model> weak(this);
    m_machine = std::make_unique<ModeMachine>(
        *m_capture, *m_power, *this,
        [weak]() -> std::optional<std::string> {
            return weak ? weak->m_settings.monitorBlocker() : std::nullopt;
        },
        m_recorder.get(), [clock = m_clock] { return clock->now(); });

    // Folders, and what an earlier run left half-written.
    m_paths.prepare();
    AtomicFile::removeAllLeftovers(m_paths.data());
    Lifecycle::cleanTemporaries({ m_paths.clipsTmp() });

    reportUnreadableSettings();
    reloadSettings();
    m_lastEvent = newestPhotoTime(m_paths.events());
    installCallbacks();
    m_cameras = m_capture->available();

    m_devices = std::make_unique<DeviceMonitor>();
    m_devices->onConnected = [this](const QString&) {
        refreshCameras();
        checkCameraPresence();
    };
    m_devices->onDisconnected = m_devices->onConnected;

    m_timer.setInterval(kTickMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Model::tick);
    m_timer.start();
    m_sensitivityWork.setSingleShot(true);
    m_sensitivityWork.setInterval(kSensitivityDelayMs);
    connect(&m_sensitivityWork, &QTimer::timeout, this, &Model::runSensitivitySave);
    tick();

    // Alerts left from an earlier run go out now, not only once protection is next switched on.
    if (m_outbox->count() > 0)
        m_runner->startSending();

    startRemote(options);
    resumeIfWished();
}

Model::~Model()
{
    m_timer.stop();
    m_sensitivityWork.stop();
}

double Model::now() const { return m_clock->now(); }

Mode Model::mode() const { return m_machine->mode(); }

std::optional<double> Model::armedSince() const
{
    const auto since = m_machine->monitorSince();
    if (m_machine->mode() != Mode::monitor || !since)
        return std::nullopt;
    return std::max(*since, m_health.cameraStarted().value_or(*since));
}

StatusPresentation Model::makePresentation(double at) const
{
    StatusPresentation::Input input;
    input.phase = m_phase;
    input.monitorSince = m_machine ? m_machine->monitorSince() : std::nullopt;
    input.areaIsFull = m_roi.w >= 0.999 && m_roi.h >= 0.999;
    if (m_lastEventKind && m_lastEvent)
        input.lastEvent = std::make_pair(*m_lastEventKind, *m_lastEvent);
    input.now = at;
    input.recentWindow = kRecentWindow;
    return StatusPresentation::make(input);
}

ROI Model::mapped(const ROI& reference) const { return FrameGeometry::roi(reference, m_frameAspect); }

void Model::installCallbacks()
{
    QPointer<Model> weak(this);
    m_capture->onStarted = [weak] {
        if (!weak)
            return;
        weak->m_health.cameraDidStart(weak->now());
        weak->m_analyzer->cameraDidStart();
        weak->m_reclaimer.reset();
    };
    ClipRecorder* recorder = m_recorder.get();
    m_capture->onClipFrame = [recorder](const Frame& frame, double time) { recorder->push(frame, time); };
    m_recorder->setOnClip([weak](std::optional<fs::path> file, double at) {
        if (weak)
            weak->clipReady(std::move(file), at);
    });
    Analyzer* analyzer = m_analyzer.get();
    m_capture->onFrame = [analyzer](const std::vector<std::uint8_t>& luma, const Frame& frame, double time) {
        analyzer->submit(luma, frame, time);
    };
    m_analyzer->setOnOutput([weak](const Analyzer::Output& output) {
        if (weak)
            weak->handle(output);
    });
    m_analyzer->setOnPhoto([weak](double at, const std::optional<QByteArray>& jpeg) {
        if (weak)
            weak->savePhoto(at, jpeg);
    });
    m_capture->onInterruption = [weak](bool interrupted) {
        if (!weak)
            return;
        if (interrupted)
            weak->m_health.interruptionBegan(weak->now());
        else
            weak->m_health.interruptionEnded(weak->now());
    };
    m_capture->onOpenFailure = [weak](CameraOpenFailure failure) {
        if (weak)
            weak->m_openFailure = failure;
    };
    m_capture->onError = [weak](const std::string& message) {
        if (!weak)
            return;
        weak->m_log->info("Vardel câmera: " + message);
        const auto failure = std::exchange(weak->m_openFailure, std::nullopt);
        if (failure == CameraOpenFailure::permissionDenied) {
            weak->denyCamera();
            return;
        }
        // A camera held by another program is waited out like an interruption, then opened again.
        if (failure == CameraOpenFailure::busy && !weak->m_health.cameraStarted())
            weak->m_health.cameraDidStart(weak->now());
        if (weak->m_health.cameraStarted())
            weak->m_health.interruptionBegan(weak->now());
        else
            weak->m_appFailure = message;
        weak->tick();
    };
}

// Main loop.

void Model::tick()
{
    if (m_shuttingDown)
        return;
    const double at = now();
    const Mode current = m_machine->mode();
    const HealthMonitor::Report report = m_health.check(at);

    if (report.shouldRestart && current != Mode::off && !m_cameraWatch.missing()) {
        m_log->info("Vardel: reabrindo câmera (" + report.failure.value_or("-") + ")");
        m_health.cameraDidStart(at);
        m_capture->restart();
    }
    if (report.newlyFailed && current == Mode::monitor && !m_cameraWatch.missing() && report.failure)
        enqueueText(L::t(K::tgAttention, { Brand::name, *report.failure }));

    if (current != Mode::off) {
        if (m_reclaimer.update(m_frameAspect, at))
            m_capture->reclaimPreferredFormat();
        publish(m_resolution, m_frameW < 1 ? std::string("-") : sizeText(m_frameW, m_frameH),
            &Model::resolutionChanged);
        OptionalText info;
        switch (m_reclaimer.status) {
        case FormatReclaimer::Status::normal:
            break;
        case FormatReclaimer::Status::waiting:
            info = L::t(K::fmtWaiting, { sizeText(m_frameW, m_frameH) });
            break;
        case FormatReclaimer::Status::recovered:
            if (m_reclaimer.recoveredAt && at - *m_reclaimer.recoveredAt < kRecoveredNoticeFor)
                info = L::t(K::fmtRecovered);
            break;
        case FormatReclaimer::Status::gaveUp:
            info = L::t(K::fmtGaveUp, { sizeText(m_frameW, m_frameH) });
            break;
        }
        publish(m_formatInfo, info, &Model::formatInfoChanged);
    } else {
        publish(m_resolution, std::string("-"), &Model::resolutionChanged);
        publish(m_formatInfo, OptionalText(), &Model::formatInfoChanged);
    }

    m_analyzer->setArmedSince(armedSince());
    m_recorder->tick(at);
    checkCover(current, at);
    if (m_monitoringWanted && at - m_aliveWrittenAt >= kAliveEvery)
        rememberProtection(true, at);

    // The outbox removes a photo's item once it is sent, and also when it moves it to "failed/": only the
    // first counts as sent.
    if (m_lastPhotoJob && !fs::exists(*m_lastPhotoJob)) {
        const bool discarded = fs::exists(m_paths.outboxFailed() / m_lastPhotoJob->filename());
        m_lastPhotoJob.reset();
        if (!discarded)
            publish(m_lastPhotoSentAt, OptionalTime(at), &Model::lastPhotoSentAtChanged);
        publish(m_photoPending, false, &Model::photoPendingChanged);
    }

    refreshPlatformState(m_tickCount % kPowerEveryTicks == 0);
    m_tickCount += 1;

    publish(m_monitorSince, m_machine->monitorSince(), &Model::monitorSinceChanged);
    publish(m_cameraFresh, m_health.isFresh(at), &Model::cameraFreshChanged);
    publish(m_powerHeld, m_power->held(), &Model::powerHeldChanged);
    const QueueRunner::Snapshot sending = m_runner->state();
    // A chat Telegram refuses is a failure to talk to Telegram that only pairing again mends.
    publish(m_telegramOK, sending.chatUnreachable ? OptionalFlag(false) : sending.online,
        &Model::telegramOKChanged);
    if (sending.chatUnreachable && !m_chatUnreachable)
        setNotice(L::t(K::ctxTgOffline) + " · " + L::t(K::obConfTitle));
    m_chatUnreachable = sending.chatUnreachable;
    if (sending.storageFault && sending.storageFault != m_storageFault)
        setNotice(L::t(K::ntSaveFailed, { *sending.storageFault }));
    m_storageFault = sending.storageFault;
    publish(m_queue, static_cast<int>(m_outbox->count()), &Model::queueChanged);
    publish(m_phase,
        Phase::compute(
            current, m_appFailure ? m_appFailure : report.failure, m_cameraFresh, armedSince(), at, kWarmup),
        &Model::phaseChanged);
    publish(m_presentation, makePresentation(at), &Model::presentationChanged);
}

void Model::refreshPlatformState(bool refreshPower)
{
    if (!refreshPower || m_powerQueryInFlight)
        return;
    m_powerQueryInFlight = true;
    QPointer<Model> weak(this);
    m_status->onAC([weak](std::optional<bool> onAC) {
        if (!weak)
            return;
        weak->m_powerQueryInFlight = false;
        const OptionalFlag before = weak->m_onAC;
        weak->publish(weak->m_onAC, onAC, &Model::onACChanged);
        if (before && onAC && *before != *onAC && weak->mode() == Mode::monitor)
            weak->enqueueText(brandTime(*onAC ? K::tgOnAC : K::tgOnBattery, weak->now()));
    });
}

// Mode control.

void Model::applyMode()
{
    m_appFailure.reset();
    const Mode previous = m_machine->mode();
    const Mode next = m_machine->apply(m_previewOn, m_monitoringWanted);
    if (m_machine->lastRefusal()) {
        m_appFailure = m_machine->lastRefusal();
        publish(m_monitoringWanted, false, &Model::monitoringWantedChanged);
    }
    if (next == Mode::monitor && previous != Mode::monitor) {
        m_analyzer->resetPolicy(m_settings);
        m_runner->startSending();
    } else if (next == Mode::off) {
        m_health.cameraDidStop();
        publish(m_level, 0.0, &Model::levelChanged);
    }
    m_analyzer->setArmedSince(armedSince());
    tick();
}

void Model::withCameraPermission(std::function<void()> action)
{
    // V4L2 asks no one for consent: whether this user may use the camera shows when the capture opens
    // it, and a refusal comes back as the open failure `permissionDenied`.
    publish(m_permissionDenied, false, &Model::permissionDeniedChanged);
    action();
}

void Model::denyCamera()
{
    publish(m_permissionDenied, true, &Model::permissionDeniedChanged);
    m_appFailure = L::t(K::ntNoCameraPermission, { Brand::name });
    tick();
}

void Model::setPreviewOn(bool on) { publish(m_previewOn, on, &Model::previewOnChanged); }

void Model::setEditingArea(bool on) { publish(m_editingArea, on, &Model::editingAreaChanged); }

void Model::setNotice(OptionalText text) { publish(m_notice, std::move(text), &Model::noticeChanged); }

void Model::setUpdate(OptionalRelease release)
{
    publish(m_update, std::move(release), &Model::updateChanged);
}

void Model::togglePreview()
{
    if (m_previewOn) {
        setPreviewOn(false);
        applyMode();
        return;
    }
    withCameraPermission([this] {
        setPreviewOn(true);
        applyMode();
    });
}

void Model::toggleMonitoring()
{
    if (m_monitoringWanted || m_machine->mode() == Mode::monitor) {
        publish(m_monitoringWanted, false, &Model::monitoringWantedChanged);
        applyMode();
        return;
    }
    withCameraPermission([this] {
        publish(m_monitoringWanted, true, &Model::monitoringWantedChanged);
        applyMode();
    });
}

void Model::beginAreaEdit()
{
    if (m_machine->mode() != Mode::off) {
        setEditingArea(true);
        return;
    }
    withCameraPermission([this] {
        setPreviewOn(true);
        applyMode();
        setEditingArea(true);
    });
}

// Camera presence.

void Model::refreshCameras() { publish(m_cameras, m_capture->available(), &Model::camerasChanged); }

void Model::checkCameraPresence()
{
    const Mode current = m_machine->mode();
    std::optional<std::string> inUse;
    if (current != Mode::off)
        if (auto device = m_capture->currentDevice())
            inUse = device->name;
    std::vector<std::string> names;
    for (const auto& camera : m_cameras)
        names.push_back(camera.name);
    switch (m_cameraWatch.update(names, m_settings.camera, inUse)) {
    case CameraWatch::Action::pause:
        m_appFailure = L::t(K::failCamDisconnected);
        if (current == Mode::monitor)
            enqueueText(brandTime(K::tgCamDisconnected, now()));
        break;
    case CameraWatch::Action::resume:
        m_appFailure.reset();
        if (current != Mode::off) {
            m_resumedFromMissing = true;
            m_health.cameraDidStart(now());
            m_capture->restart();
        }
        break;
    case CameraWatch::Action::none:
        break;
    }
    tick();
}

std::string Model::selectedCamera()
{
    if (!m_settings.camera.empty())
        return m_settings.camera;
    if (auto device = m_capture->currentDevice())
        return device->name;
    if (auto picked = CameraChoice::pick(m_cameras, {}))
        return picked->name;
    return {};
}

Frame Model::latestFrame() const { return m_capture->latest(); }

void Model::openCameraSettings()
{
    // There is no system page to open on Linux: the help is the permission notice itself.
    setNotice(L::t(K::ntNoCameraPermission, { Brand::name }));
}

void Model::openLastPhoto()
{
    auto file = m_lastPhotoFile ? m_lastPhotoFile : newestPhotoFile(m_paths.events());
    if (file)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file->string())));
}

// Shut-down.

void Model::shutdown(std::function<void()> done, EndReason reason)
{
    m_forgetProtection = reason == EndReason::user;
    // A sensitivity change still waiting for its save is saved now, not lost.
    if (m_sensitivityWork.isActive()) {
        m_sensitivityWork.stop();
        runSensitivitySave();
    }
    m_timer.stop();
    m_shuttingDown = true;
    publish(m_previewOn, false, &Model::previewOnChanged);
    publish(m_monitoringWanted, false, &Model::monitoringWantedChanged);
    m_health.cameraDidStop();
    QPointer<Model> weak(this);
    Lifecycle::quit(*m_machine, m_recorder.get(), m_sending.get(), { m_paths.clipsTmp() },
        [weak, done = std::move(done)] {
            if (!weak) {
                if (done)
                    done();
                return;
            }
            std::error_code ignored;
            fs::remove(weak->m_paths.appState(), ignored);
            weak->m_log->flush();
            // Settings writes still queued land before the application goes.
            weak->m_settingsWrites.async([done] {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [done] {
                        if (done)
                            done();
                    },
                    Qt::QueuedConnection);
            });
        });
}

// Frame results, detections, photos and clips.

void Model::handle(const Analyzer::Output& output)
{
    const Mode current = m_machine->mode();
    if (current == Mode::off)
        return;
    const bool cameraBack = m_health.frameArrived(output.now);
    if (cameraBack && !m_resumedFromMissing && current == Mode::monitor)
        enqueueText(brandTime(K::tgCameraBack, now()));
    if (m_resumedFromMissing) {
        m_resumedFromMissing = false;
        if (current == Mode::monitor)
            enqueueText(brandTime(K::tgCamReconnected, now()));
    }

    publish(m_cameraCovered, m_coverTracker.observe(output.looksCovered, output.now),
        &Model::cameraCoveredChanged);
    m_frameW = output.width;
    m_frameH = output.height;
    m_visionChecks = output.visionChecks;
    m_discarded = output.discarded;
    publish(m_frameAspect, output.aspect, &Model::frameAspectChanged);
    publish(m_currentROI, output.currentROI, &Model::currentROIChanged);
    if (output.formatChanged)
        m_log->info("Vardel: formato da câmera mudou para " + std::to_string(output.width) + "x"
            + std::to_string(output.height) + " (outro app?); alertas em espera até a imagem estabilizar");
    if (output.level) {
        publish(m_level, *output.level, &Model::levelChanged);
        if (output.kind)
            event(*output.kind, *output.level, output.now, output.people);
    }
}

void Model::event(EventKind kind, double level, double at, PersonBoxes people)
{
    const bool withPeople = !people.empty();
    publish(m_lastEvent, OptionalTime(at), &Model::lastEventChanged);
    publish(m_lastEventKind, OptionalKind(kind), &Model::lastEventKindChanged);
    publish(m_personBoxes, std::move(people), &Model::personBoxesChanged);
    publish(m_personAt, withPeople ? OptionalTime(at) : std::nullopt, &Model::personAtChanged);
    publish(m_photoPending, true, &Model::photoPendingChanged);
    publish(m_lastPhotoSentAt, OptionalTime(), &Model::lastPhotoSentAtChanged);

    // The lock state is a D-Bus question: the line is written when the answer comes.
    Log* log = m_log.get();
    QPointer<Model> weak(this);
    m_status->screenLocked([weak, log, kind, at, level](std::optional<bool> locked) {
        if (weak)
            log->info(Captions::diagnostics(kind, at, level, locked));
    });

    // Keyed by the analyzer's own time, unchanged, so that the photo for this event finds its caption.
    m_pendingCaptions[at] = Captions::alert(kind, at);
    m_recorder->trigger(at);
    tick();
}

void Model::savePhoto(double at, const std::optional<QByteArray>& data)
{
    std::string caption;
    if (auto it = m_pendingCaptions.find(at); it != m_pendingCaptions.end()) {
        caption = std::move(it->second);
        m_pendingCaptions.erase(it);
    } else {
        caption = Captions::alert(EventKind::motion, at);
    }
    // Without a rendered photo, the latest camera frame is encoded instead (off the main thread too).
    Frame fallback = data ? Frame() : m_capture->latest();

    QPointer<Model> weak(this);
    const Paths paths = m_paths;
    auto outbox = m_outbox;
    auto main = m_main;
    m_writes.async([=] {
        try {
            std::vector<std::uint8_t> encoded;
            std::span<const std::uint8_t> bytes;
            if (data) {
                bytes = { reinterpret_cast<const std::uint8_t*>(data->constData()),
                    static_cast<std::size_t>(data->size()) };
            } else if (auto jpeg = CaptureService::jpeg(fallback)) {
                encoded = std::move(*jpeg);
                bytes = encoded;
            } else {
                throw Error(2, "sem foto");
            }
            const fs::path photo = EventFiles::writePhoto(bytes, paths.events(), at);
            const fs::path job = outbox->enqueue("photo", caption, photo.string());
            main->post([weak, photo, job] {
                if (!weak)
                    return;
                weak->publish(weak->m_lastPhotoFile, OptionalFile(photo), &Model::lastPhotoFileChanged);
                weak->m_lastPhotoJob = job;
            });
        } catch (const std::exception& error) {
            main->post([weak] {
                if (!weak)
                    return;
                weak->m_lastPhotoJob.reset();
                weak->publish(weak->m_photoPending, false, &Model::photoPendingChanged);
            });
            try {
                outbox->enqueue("text", Captions::withoutPhoto(caption), std::nullopt);
            } catch (const std::exception& textError) {
                Log::system(std::string("Vardel fila: ") + textError.what());
            }
        }
    });
}

void Model::clipReady(OptionalFile file, double at)
{
    if (!file) {
        enqueueText(Captions::clipFailed(at));
        return;
    }
    queueItem("video", Captions::clip(at), file->string());
}

void Model::enqueueText(const std::string& text) { queueItem("text", text, std::nullopt); }

void Model::queueItem(std::string kind, std::string text, OptionalText file)
{
    auto outbox = m_outbox;
    Log* log = m_log.get();
    m_writes.async([outbox, log, kind = std::move(kind), text = std::move(text), file = std::move(file)] {
        try {
            outbox->enqueue(kind, text, file);
        } catch (const std::exception& error) {
            if (kind == "video")
                log->info(std::string("fila: clipe não entrou: ") + error.what());
            else
                Log::system(std::string("Vardel fila: ") + error.what());
        }
    });
}

// Settings operations.

void Model::reportUnreadableSettings()
{
    // A settings file that does not decode loads as the defaults; keep a copy before any later save
    // replaces it, and say so.
    const fs::path file = m_paths.config();
    std::error_code error;
    if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > SettingsStore::maximumFileSize)
        return;
    try {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return;
        Settings::decode(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        return;
    } catch (const std::exception&) {
    }
    const fs::path copy = file.string() + ".unreadable";
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing, error);
    if (error) {
        m_log->info("ajustes: config.json ilegível (" + error.message() + "); usando os padrões");
        return;
    }
    m_unreadableSettingsCopy = copy;
    m_log->info("ajustes: config.json ilegível; usando os padrões; cópia em " + copy.string());
}

void Model::reloadSettings()
{
    m_settings = m_store->load();
    m_storedSettings = m_settings;
    applySettings();
    m_analyzer->resetPolicy(m_settings);
}

// Brings the components and the published values in line with `m_settings`.
void Model::applySettings()
{
    AppLanguage language = AppLanguage::en;
    if (m_settings.language) {
        language = *m_settings.language;
    } else {
        std::vector<std::string> preferred;
        for (const QString& name : QLocale::system().uiLanguages())
            preferred.push_back(name.toStdString());
        language = AppLanguage::preferred(preferred);
    }
    const bool languageChanged = L::language() != language;
    if (languageChanged)
        L::setLanguage(language);
    publish(m_language, language, &Model::languageChanged);

    m_analyzer->apply(m_settings);
    m_capture->setCameraName(m_settings.camera);
    m_recorder->configure(m_settings.preSeconds, m_settings.postSeconds);
    publish(m_detectionMode, m_settings.detectionMode, &Model::detectionModeChanged);
    publish(m_roi, m_settings.roi, &Model::roiChanged);
    publish(m_currentROI, mapped(m_roi), &Model::currentROIChanged);
    publish(
        m_sensitivity, static_cast<double>(m_settings.sensitivity), qOverload<>(&Model::sensitivityChanged));
    std::string label = m_settings.chatLabel.value_or("-");
    if (!m_settings.chatConfirmed)
        label += " (" + L::t(K::notConfirmed) + ")";
    publish(m_chatLabel, label, &Model::chatLabelChanged);

    if (!languageChanged)
        return;
    m_presentation = makePresentation(now());
    emit presentationChanged();
    if (onLanguageChanged)
        onLanguageChanged();
}

void Model::notifySaveFailed(const std::string& error) { setNotice(L::t(K::ntSaveFailed, { error })); }

// The file is read, changed and written on the settings queue, so the main thread never waits for the disk.
void Model::saveSettings(std::function<void(Settings&)> change, std::function<void(bool)> done)
{
    ++m_settingsWritesPending;
    QPointer<Model> weak(this);
    m_settingsWrites.async(
        [store = m_store, main = m_main, weak, change = std::move(change), done = std::move(done)] {
            std::optional<Settings> stored;
            std::string error;
            try {
                stored = store->update(change);
            } catch (const std::exception& failure) {
                error = failure.what();
            }
            main->post([weak, stored, error, done] {
                if (!weak)
                    return;
                weak->settingsWritten(stored, error);
                if (done)
                    done(stored.has_value());
            });
        });
}

void Model::settingsWritten(const std::optional<Settings>& stored, const std::string& error)
{
    --m_settingsWritesPending;
    if (stored)
        m_storedSettings = *stored;
    else
        notifySaveFailed(error);
    // Once every write has landed the program runs with what the file holds: a change that could not be
    // stored is undone.
    if (m_settingsWritesPending == 0) {
        m_settings = m_storedSettings;
        applySettings();
    }
}

void Model::saveReferenceROI(const ROI& reference)
{
    if (!reference.isValid() || reference.w < 0.03 || reference.h < 0.03) {
        setNotice(L::t(K::ntAreaInvalid));
        return;
    }
    m_settings.roi = reference;
    applySettings();
    QPointer<Model> weak(this);
    saveSettings([reference](Settings& settings) { settings.roi = reference; },
        [weak](bool stored) {
            if (weak && stored)
                weak->setNotice(L::t(K::ntAreaSaved));
        });
}

void Model::sensitivityChanged(double value)
{
    publish(m_sensitivity, value, qOverload<>(&Model::sensitivityChanged));
    m_sensitivityWork.start();
}

void Model::runSensitivitySave()
{
    const int rounded = roundedSensitivity(m_sensitivity);
    m_settings.sensitivity = rounded;
    m_analyzer->apply(m_settings);
    QPointer<Model> weak(this);
    saveSettings([rounded](Settings& settings) { settings.sensitivity = rounded; },
        [weak](bool stored) {
            if (weak && stored)
                weak->setNotice(L::t(K::ntSensitivitySaved));
        });
}

void Model::setDetectionMode(DetectionMode detectionMode)
{
    if (detectionMode == m_settings.detectionMode)
        return;
    m_settings.detectionMode = detectionMode;
    applySettings();
    QPointer<Model> weak(this);
    saveSettings([detectionMode](Settings& settings) { settings.detectionMode = detectionMode; },
        [weak, detectionMode](bool stored) {
            if (weak && stored)
                weak->setNotice(
                    L::t(detectionMode == DetectionMode::motion ? K::ntModeMotion : K::ntModePerson));
        });
}

// The camera changes once the choice is stored.
void Model::setCamera(const std::string& name)
{
    if (name == m_settings.camera)
        return;
    m_settings.camera = name;
    QPointer<Model> weak(this);
    saveSettings([name](Settings& settings) { settings.camera = name; },
        [weak, name](bool stored) {
            if (!weak || !stored)
                return;
            weak->m_capture->setCameraName(name);
            weak->m_cameraWatch.reset();
            weak->m_resumedFromMissing = false;
            weak->m_appFailure.reset();
            if (weak->m_machine->mode() != Mode::off) {
                weak->m_health.cameraDidStart(weak->now());
                weak->m_capture->restart();
            }
        });
}

void Model::setLanguage(AppLanguage language)
{
    m_settings.language = language;
    applySettings();
    saveSettings([language](Settings& settings) { settings.language = language; });
}

// The chat counts as confirmed only once it is stored: alerts read it from the file.
void Model::confirmChat(std::int64_t chatID, const std::string& label, std::function<void(bool)> done)
{
    QPointer<Model> weak(this);
    saveSettings(
        [chatID, label](Settings& settings) {
            settings.chatID = chatID;
            settings.chatLabel = label;
            settings.chatConfirmed = true;
        },
        [weak, chatID, label, done = std::move(done)](bool stored) {
            if (weak && stored) {
                weak->m_settings.chatID = chatID;
                weak->m_settings.chatLabel = label;
                weak->m_settings.chatConfirmed = true;
                weak->applySettings();
                weak->enqueueText(L::t(K::tgPaired, { Brand::name }));
                weak->m_runner->startSending();
            }
            if (done)
                done(stored);
        });
}

void Model::requireChatConfirmation()
{
    m_settings.chatConfirmed = false;
    applySettings();
    saveSettings([](Settings& settings) { settings.chatConfirmed = false; });
}

void Model::testTelegram()
{
    publish(m_telegramBusy, true, &Model::telegramBusyChanged);
    publish(m_telegramResult, OptionalText(), &Model::telegramResultChanged);
    QPointer<Model> weak(this);
    m_runner->sendTest(m_settings.chatLabel.value_or("Telegram"), [weak](bool ok, std::string message) {
        if (!weak)
            return;
        weak->publish(weak->m_telegramFailed, !ok, &Model::telegramFailedChanged);
        weak->publish(weak->m_telegramBusy, false, &Model::telegramBusyChanged);
        weak->publish(
            weak->m_telegramResult, OptionalText(std::move(message)), &Model::telegramResultChanged);
    });
}

// The bot token.

void Model::readToken(std::function<void(OptionalText)> done)
{
    auto token = m_token;
    auto main = m_main;
    QPointer<Model> weak(this);
    m_keyring.async([token, main, weak, done = std::move(done)] {
        OptionalText value;
        try {
            value = token->get();
        } catch (const std::exception&) {
        }
        main->post([weak, done, value] {
            if (weak && done)
                done(value);
        });
    });
}

void Model::saveToken(std::string value, std::function<void(OptionalText)> done)
{
    auto token = m_token;
    auto main = m_main;
    QPointer<Model> weak(this);
    m_keyring.async([token, main, weak, value = std::move(value), done = std::move(done)] {
        OptionalText failure;
        try {
            token->save(value);
        } catch (const std::exception& error) {
            failure = std::string(error.what());
        }
        main->post([weak, done, failure] {
            if (weak && done)
                done(failure);
        });
    });
}

// Chat commands and alerts about the computer.

void Model::startRemote(const Options& options)
{
    QPointer<Model> weak(this);
    connect(this, &Model::monitoringWantedChanged, this, [this] {
        // Quitting switches protection off too; only the user's own quit forgets it for the next start.
        if (!m_shuttingDown || m_forgetProtection)
            rememberProtection(m_monitoringWanted, now());
    });

    m_pollLease = std::make_shared<PollLease>();
    CommandPoller::Dependencies remote;
    remote.token = [token = m_token] { return token->get(); };
    remote.chatID = confirmedChat(m_store.get());
    remote.endpoint
        = TelegramClient::endpointFrom(options.endpoint ? options.endpoint : AppInfo::botAPIURL());
    remote.lease = m_pollLease;
    remote.main = m_main;
    remote.log = [log = m_log.get()](const std::string& line) { log->info(line); };
    remote.clock = m_clock;
    remote.onCommand = [weak](ChatCommand command) {
        if (weak)
            weak->obey(command);
    };
    remote.onConflict = [weak] {
        if (weak)
            weak->setNotice(L::t(K::rcConflict));
    };
    m_commands = std::make_unique<CommandPoller>(std::move(remote));

    m_sleepWatch = std::make_unique<SleepWatch>(
        options.systemBus.value_or(QDBusConnection::systemBus()), [weak](bool goingToSleep) {
            if (weak)
                weak->sleepChanged(goingToSleep);
        });
}

void Model::resumeIfWished()
{
    const ResumeState previous = ResumeState::load(ResumeState::fileIn(m_paths.data()));
    if (!previous.protecting)
        return;
    const double at = now();
    m_log->info("proteção: ligada ao sair da última vez; retomando");
    toggleMonitoring();
    if (!m_monitoringWanted) {
        enqueueText(L::t(K::rcArmFailed, { Brand::name, m_appFailure.value_or("-") }));
        return;
    }
    // The last sign of life is at most a minute old; a run that never wrote one counts from now.
    const auto [from, to] = ChatCommands::spanTimes(std::min(previous.aliveAt.value_or(at), at), at);
    enqueueText(L::t(K::tgResumed, { Brand::name, from, to }));
}

void Model::rememberProtection(bool protecting, double aliveAt)
{
    m_aliveWrittenAt = aliveAt;
    const ResumeState state { protecting, protecting ? OptionalTime(aliveAt) : std::nullopt };
    Log* log = m_log.get();
    m_writes.async([state, log, file = ResumeState::fileIn(m_paths.data())] {
        try {
            state.save(file);
        } catch (const std::exception& error) {
            log->info(std::string("proteção: não salvou o estado: ") + error.what());
        }
    });
}

void Model::checkCover(Mode current, double at)
{
    if (m_cameraCovered && current == Mode::monitor) {
        if (!m_coveredSince)
            m_coveredSince = at;
        if (!m_coverReported && at - *m_coveredSince >= kCoveredFor) {
            m_coverReported = true;
            enqueueText(brandTime(K::tgCovered, at));
        }
        return;
    }
    if (m_coverReported && current == Mode::monitor)
        enqueueText(brandTime(K::tgUncovered, at));
    m_coveredSince.reset();
    m_coverReported = false;
}

void Model::sleepChanged(bool goingToSleep)
{
    const double at = now();
    if (goingToSleep) {
        if (!m_monitoringWanted)
            return;
        m_asleepSince = at;
        rememberProtection(true, at);
        enqueueText(brandTime(K::tgSleeping, at));
        return;
    }
    if (const auto since = std::exchange(m_asleepSince, std::nullopt)) {
        const auto [from, to] = ChatCommands::spanTimes(*since, at);
        enqueueText(L::t(K::tgAwake, { Brand::name, from, to }));
    }
}

void Model::obey(ChatCommand command)
{
    m_log->info("comandos: /"
        + std::string(command == ChatCommand::status ? "status"
                : command == ChatCommand::photo      ? "photo"
                : command == ChatCommand::arm        ? "arm"
                : command == ChatCommand::disarm     ? "disarm"
                                                     : "help"));
    const bool protecting = m_monitoringWanted && mode() == Mode::monitor;
    switch (command) {
    case ChatCommand::status: {
        ChatCommands::Status status;
        status.title = m_presentation.title;
        status.subtitle = m_presentation.subtitle;
        status.camera = selectedCamera();
        if (status.camera.empty())
            status.camera = "-";
        if (m_lastEvent)
            status.lastEvent = Captions::alert(m_lastEventKind.value_or(EventKind::motion), *m_lastEvent);
        status.queue = static_cast<int>(m_outbox->count());
        enqueueText(ChatCommands::statusText(status));
        break;
    }
    case ChatCommand::photo:
        // With protection off the camera stays off for the people at home.
        if (protecting)
            sendPhotoNow();
        else
            enqueueText(L::t(K::rcPhotoOff, { Brand::name }));
        break;
    case ChatCommand::arm:
        if (m_monitoringWanted) {
            enqueueText(L::t(K::rcAlreadyOn, { Brand::name }));
        } else {
            toggleMonitoring();
            if (!m_monitoringWanted)
                enqueueText(L::t(K::rcArmFailed, { Brand::name, m_appFailure.value_or("-") }));
        }
        break;
    case ChatCommand::disarm:
        if (m_monitoringWanted || mode() == Mode::monitor)
            toggleMonitoring();
        else
            enqueueText(L::t(K::rcAlreadyOff, { Brand::name }));
        break;
    case ChatCommand::help:
        enqueueText(L::t(K::rcHelp, { Brand::name }));
        break;
    }
    m_runner->startSending();
}

void Model::sendPhotoNow()
{
    const Frame frame = m_capture->latest();
    if (frame.empty()) {
        enqueueText(L::t(K::rcPhotoNone, { Brand::name }));
        return;
    }
    const double at = now();
    const std::string caption = L::t(K::rcPhotoNow, { Captions::hourMinute(at, L::language()) });
    // Kept apart from the event photos, which date the last event.
    const fs::path folder = m_paths.data() / "requested";
    auto outbox = m_outbox;
    Log* log = m_log.get();
    m_writes.async([frame, at, caption, folder, outbox, log] {
        try {
            const auto jpeg = CaptureService::jpeg(frame);
            if (!jpeg)
                throw Error(2, "sem foto");
            outbox->enqueue("photo", caption, EventFiles::writePhoto(*jpeg, folder, at).string());
        } catch (const std::exception& error) {
            log->info(std::string("comandos: foto não entrou: ") + error.what());
            try {
                outbox->enqueue("text", Captions::withoutPhoto(caption), std::nullopt);
            } catch (const std::exception&) {
            }
        }
    });
}

} // namespace vardel
