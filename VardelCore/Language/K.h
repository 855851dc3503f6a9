#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vardel {

// Every key of the text table, in table order. The raw value of a key is its own case name
// ("stOff" for K::stOff); the list is kept in one macro so that names and raw values cannot drift.
// Families by prefix: st status, fail failures, tg Telegram texts, cam/a11y camera view, edit area
// editor, ctx context line, ctl controls, fmt camera format, nt notices, block start blockers,
// set settings, mn menus, up updates, al dialogs, ob first run, lm cautions sheet, demo BotFather demo.
// clang-format off
#define VARDEL_TEXT_KEYS(X) \
    X(stateA11y) \
    X(stProblem) \
    X(stOff) \
    X(stOffSub) \
    X(stPreview) \
    X(stPreviewSub) \
    X(stStarting) \
    X(stStartingSub) \
    X(stPerson) \
    X(stAtTime) \
    X(stMotion) \
    X(stMotionUnconfirmedSub) \
    X(stProtected) \
    X(stWatchArea) \
    X(stWatchFull) \
    X(stWatchAreaNow) \
    X(stWatchFullNow) \
    X(failInterrupted) \
    X(failNoImage) \
    X(tgStarted) \
    X(tgStopped) \
    X(tgCameraBack) \
    X(tgAttention) \
    X(tgPhotoPerson) \
    X(tgPhotoMotion) \
    X(tgPhotoUnconfirmed) \
    X(tgNoPhoto) \
    X(tgVideo) \
    X(tgVideoFailed) \
    X(tgTest) \
    X(camLive) \
    X(camPreview) \
    X(camArea) \
    X(camAreaHelp) \
    X(camPersonChip) \
    X(camOff) \
    X(camShow) \
    X(a11yCamLivePerson) \
    X(a11yCamLive) \
    X(a11yCamOff) \
    X(editDrag) \
    X(editWhole) \
    X(cancel) \
    X(editSave) \
    X(a11yAreaEditor) \
    X(ctxOpenCamSettings) \
    X(ctxViewPhoto) \
    X(ctxPhotoSent) \
    X(ctxPhotoQueued) \
    X(ctxSending) \
    X(ctxNoAlertSince) \
    X(ctxLastAlert) \
    X(ctxNoAlerts) \
    X(ctxTgConnected) \
    X(ctxTgOffline) \
    X(ctxQueued) \
    X(ctxTgNotSet) \
    X(ctxTgTo) \
    X(ctxOnAC) \
    X(ctxOnBattery) \
    /* Headless service */ \
    X(hlNotRunning) \
    X(hlMode) \
    X(hlCamera) \
    X(hlNoCamera) \
    X(hlCamOK) \
    X(hlCamDenied) \
    X(hlCamBusy) \
    X(hlCamLive) \
    X(hlChoose) \
    X(hlNotAChoice) \
    X(hlAreaAsk) \
    X(hlAreaBad) \
    X(hlKeyAsk) \
    X(hlPressEnter) \
    X(hlSetupLeft) \
    X(hlSetupDone) \
    X(ctlCloseCamera) \
    X(ctlSettings) \
    X(ctlStop) \
    X(ctlStopHelp) \
    X(ctlStart) \
    X(ctlOnSince) \
    X(ctlOn) \
    X(ctlOff) \
    X(fmtWaiting) \
    X(fmtGaveUp) \
    X(fmtRecovered) \
    X(ntAreaInvalid) \
    X(ntAreaSaved) \
    X(ntSaveFailed) \
    X(ntSensitivitySaved) \
    X(ntModePerson) \
    X(ntModeMotion) \
    X(ntNoCameraPermission) \
    X(ntNotStarted) \
    X(blockNoTelegram) \
    X(setTitle) \
    X(setAlerts) \
    X(setAlertWhen) \
    X(setPerson) \
    X(setMotion) \
    X(setSensitivity) \
    X(setLow) \
    X(setNormal) \
    X(setHigh) \
    X(setPersonNote) \
    X(setMotionNote) \
    X(setArea) \
    X(setAreaPart) \
    X(setMarkOnCamera) \
    X(setUseWhole) \
    X(setDestination) \
    X(setSendTest) \
    X(setSending) \
    X(setReconnect) \
    X(setRecordings) \
    X(setOpenFolder) \
    X(setRecordingsNote) \
    X(setLanguage) \
    /* Settings window */ \
    X(setCamera) \
    X(setNoCamera) \
    X(setAreaWhole) \
    X(setStartAtLogin) \
    X(setAutostartFailed) \
    X(setOpenFailed) \
    X(testOK) \
    X(testFail) \
    X(notConfirmed) \
    X(mnSettings) \
    X(mnQuit) \
    X(mnWindow) \
    X(mnCloseWindow) \
    X(mnMinimize) \
    X(mnHelp) \
    X(mnSetupGuide) \
    X(mnPending) \
    X(mnOpenWindow) \
    X(upAvailable) \
    X(upDownload) \
    X(upCheck) \
    X(upLatest) \
    X(upFailed) \
    X(upAbout) \
    X(upLater) \
    X(tgCamDisconnected) \
    X(tgCamReconnected) \
    X(failCamDisconnected) \
    X(obCamPicker) \
    X(obChkCovered) \
    X(obAreaWholeHint) \
    X(obTgTaken) \
    X(obWatchVideo) \
    X(tgPaired) \
    X(obTestSendAgain) \
    X(tgBotDescription) \
    X(tgBotShort) \
    /* Chat commands and alerts about the computer */ \
    X(rcHelp) \
    X(rcCmdStatus) \
    X(rcCmdPhoto) \
    X(rcCmdArm) \
    X(rcCmdDisarm) \
    X(rcCmdHelp) \
    X(rcStatus) \
    X(rcNoEvent) \
    X(rcAlreadyOn) \
    X(rcAlreadyOff) \
    X(rcArmFailed) \
    X(rcPhotoOff) \
    X(rcPhotoNone) \
    X(rcPhotoNow) \
    X(rcConflict) \
    X(tgCovered) \
    X(tgUncovered) \
    X(tgOnBattery) \
    X(tgOnAC) \
    X(tgSleeping) \
    X(tgAwake) \
    X(tgResumed) \
    X(alKeepsTitle) \
    X(alKeepsBody) \
    X(alGotIt) \
    X(alQuitTitle) \
    X(alQuitBody) \
    X(alQuitStop) \
    /* Desktop shell */ \
    X(alKeepsBodyNoTray) \
    X(obWelcome) \
    X(obCamera) \
    X(obAreaAlerts) \
    X(obTelegram) \
    X(obTest) \
    X(obAbout5) \
    X(back) \
    X(next) \
    X(obGetStarted) \
    X(obLooksGood) \
    X(obLangTitle) \
    X(obLangSub) \
    X(obFromMac) \
    X(obLangLater) \
    X(obIntroTitle) \
    X(obIntroLead) \
    X(obPrivateTitle) \
    X(obPriv1) \
    X(obPriv2) \
    X(obPriv3) \
    X(obPriv4) \
    X(obKnowTitle) \
    X(obKnow1) \
    X(obKnow2) \
    X(obKnow3) \
    X(obNeed) \
    X(obNeedCam) \
    X(obNeedSpot) \
    X(obNeedTg) \
    X(obLegal) \
    X(obLearnMore) \
    X(lmTitle) \
    X(lm1) \
    X(lm2) \
    X(lm3) \
    X(lm4) \
    X(close) \
    X(obCamTitle) \
    X(obCamLead) \
    X(obCamAllow) \
    X(obCamAsk) \
    X(obCamShowPreview) \
    X(obCamDenied) \
    X(obOpenSettings) \
    X(obPreviewPill) \
    X(obChkInView) \
    X(obChkClear) \
    X(obChkLid) \
    X(obChkPower) \
    X(obAreaTitle) \
    X(obAreaLead) \
    X(obAreaDragHint) \
    X(obAlertsTitle) \
    X(obRecommended) \
    X(obTgTitle) \
    X(obTgLead) \
    X(obTgEasy) \
    X(obTg1) \
    X(obTgOpen) \
    X(obTg2) \
    X(obCopy) \
    X(obCopied) \
    X(obTg3) \
    X(obKeyLabel) \
    X(obPaste) \
    X(obKeyChecking) \
    X(obKeyOK) \
    X(obKeyBad) \
    X(obKeyRejected) \
    X(obKeyOffline) \
    X(obTgConnected) \
    X(obTgUseOther) \
    X(obTgKeepCurrent) \
    X(obNeedHelp) \
    X(obHelpTitle) \
    X(obHelp1) \
    X(obHelp2) \
    X(obHelp3) \
    X(obContactSupport) \
    X(demoBotFather) \
    X(demoYou) \
    X(demoAskName) \
    X(demoName) \
    X(demoAskUser) \
    X(demoUser) \
    X(demoDone) \
    X(obConfTitle) \
    X(obConfLead) \
    X(obConfOpen) \
    X(obConfAlt) \
    X(obConfWaiting) \
    X(obConfHeard) \
    X(obConfYes) \
    X(obConfNo) \
    X(obConfExpired) \
    X(obConfNew) \
    X(obConfTrouble) \
    X(obPrivateChat) \
    X(obConfCurrent) \
    X(obConfKeep) \
    X(obConfOther) \
    X(obTestTitle) \
    X(obTestLead) \
    X(obTestSendLead) \
    X(obTestSent) \
    X(obTestArrived) \
    X(obTestNot) \
    X(obTestNotHelp) \
    X(obDoneTitle) \
    X(obDoneLead) \
    X(obDoneWatching) \
    X(obDoneAlertWhen) \
    X(obDoneAlertsTo) \
    /* First-run summary */ \
    X(obDoneWhole) \
    X(obDonePart) \
    X(obDoneHelp) \
    X(obNotNow)
// clang-format on

enum class K : std::uint16_t {
#define VARDEL_TEXT_KEY_CASE(name) name,
    VARDEL_TEXT_KEYS(VARDEL_TEXT_KEY_CASE)
#undef VARDEL_TEXT_KEY_CASE
};

inline constexpr std::size_t kKeyCount = 0
#define VARDEL_TEXT_KEY_COUNT(name) +1
    VARDEL_TEXT_KEYS(VARDEL_TEXT_KEY_COUNT)
#undef VARDEL_TEXT_KEY_COUNT
    ;

// All keys in table order.
inline constexpr std::array<K, kKeyCount> kAllKeys = {
#define VARDEL_TEXT_KEY_ITEM(name) K::name,
    VARDEL_TEXT_KEYS(VARDEL_TEXT_KEY_ITEM)
#undef VARDEL_TEXT_KEY_ITEM
};

// The key's case name, e.g. "stOff".
std::string_view rawValue(K key);

// The key whose case name is exactly `raw`; no value for anything else.
std::optional<K> keyFromRawValue(std::string_view raw);

} // namespace vardel
