#include "TerminalSetup.h"

#include "AppRunner.h"
#include "L.h"
#include "Model.h"
#include "OnboardingModel.h"
#include "QrCode.h"
#include "TerminalInput.h"
#include "TerminalQr.h"

#include <QElapsedTimer>

#include <cstdio>
#include <sstream>

namespace vardel {

namespace {

    // Thrown when input ends or the process is told to stop: the flow is left where it stands.
    struct Left { };

    void print(const std::string& line)
    {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    }

    // "x y w h" as fractions; none unless it is exactly four numbers.
    std::optional<ROI> parseArea(const std::string& text)
    {
        std::istringstream in(text);
        ROI area;
        std::string rest;
        if (!(in >> area.x >> area.y >> area.w >> area.h) || (in >> rest))
            return std::nullopt;
        return area;
    }

} // namespace

TerminalSetup::TerminalSetup(AppRunner& runner)
    : m_runner(runner)
{
}

int TerminalSetup::run()
{
    OnboardingModel flow(m_runner.model());
    TerminalInput input;
    m_flow = &flow;
    m_input = &input;
    m_runner.onQuit = [&input] { input.stop(); };
    bool finished = false;
    try {
        language();
        camera();
        area();
        alerts();
        telegram();
        pair();
        test();
        done();
        finished = true;
    } catch (const Left&) {
        print(L::t(K::hlSetupLeft));
    }
    flow.finish(false);
    m_runner.onQuit = nullptr;
    m_runner.quitAndWait();
    return finished ? 0 : 1;
}

std::string TerminalSetup::ask(const std::string& prompt, bool pastedSecret)
{
    std::fputs((prompt + " ").c_str(), stdout);
    std::fflush(stdout);
    auto line = pastedSecret ? m_input->readPasted(true) : m_input->readLine();
    if (!line)
        throw Left {};
    return *line;
}

void TerminalSetup::wait(const std::function<bool()>& until)
{
    if (!m_input->waitUntil(until))
        throw Left {};
}

std::size_t TerminalSetup::choose(const std::vector<std::string>& options, int current)
{
    for (std::size_t i = 0; i < options.size(); ++i)
        print(
            "  " + std::to_string(i + 1) + ". " + options[i] + (static_cast<int>(i) == current ? " *" : ""));
    for (;;) {
        const std::string answer = ask(L::t(K::hlChoose));
        if (answer.empty() && current >= 0)
            return static_cast<std::size_t>(current);
        std::size_t used = 0;
        try {
            const int picked = std::stoi(answer, &used);
            if (used == answer.size() && picked >= 1 && static_cast<std::size_t>(picked) <= options.size())
                return static_cast<std::size_t>(picked - 1);
        } catch (const std::exception&) {
        }
        print(L::t(K::hlNotAChoice, { answer }));
    }
}

void TerminalSetup::language()
{
    print(L::t(K::obLangTitle));
    std::vector<std::string> names;
    int current = 0;
    const auto& languages = AppLanguage::allCases();
    for (std::size_t i = 0; i < languages.size(); ++i) {
        names.emplace_back(languages[i].nativeName());
        if (languages[i] == m_runner.model().language())
            current = static_cast<int>(i);
    }
    m_flow->chooseLanguage(languages[choose(names, current)]);
    print(L::t(K::obIntroTitle));
    print(L::t(K::obLegal));
    m_flow->go(ObStep::camera);
}

void TerminalSetup::camera()
{
    Model& model = m_runner.model();
    print(L::t(K::obCamTitle));
    print(L::t(K::obCamLead));
    const CameraList cameras = model.cameras();
    if (cameras.empty()) {
        print(L::t(K::hlNoCamera));
    } else if (cameras.size() > 1) {
        std::vector<std::string> names;
        int current = -1;
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            names.push_back(cameras[i].name);
            if (cameras[i].name == model.selectedCamera())
                current = static_cast<int>(i);
        }
        model.setCamera(cameras[choose(names, current)].name);
    }
    m_flow->requestCamera();
    // The picture, a refusal, or a camera that stays silent for a while: the user learns which.
    QElapsedTimer started;
    started.start();
    wait([&] { return model.cameraFresh() || model.permissionDenied() || started.elapsed() > 10000; });
    if (model.permissionDenied())
        print(L::t(K::obCamDenied));
    else if (model.cameraFresh())
        print(L::t(K::hlCamLive, { model.selectedCamera(), model.resolution() }));
    else if (!cameras.empty())
        print(L::t(K::failNoImage, { "-" }));
    if (model.cameraCovered())
        print(L::t(K::obChkCovered));
    m_flow->go(ObStep::area);
}

void TerminalSetup::area()
{
    print(L::t(K::obAreaTitle));
    print(L::t(K::obAreaLead));
    for (;;) {
        const std::string answer = ask(L::t(K::hlAreaAsk));
        if (answer == "whole") {
            m_flow->setAreaPart(false);
        } else if (!answer.empty()) {
            const auto area = parseArea(answer);
            m_flow->setAreaPart(true);
            m_flow->setDraft(area);
            if (!area || !m_flow->canSaveArea()) {
                print(L::t(K::hlAreaBad));
                continue;
            }
        }
        m_flow->next();
        print(L::t(m_runner.model().roi().isFull() ? K::stWatchFullNow : K::stWatchAreaNow));
        return;
    }
}

void TerminalSetup::alerts()
{
    print(L::t(K::obAlertsTitle));
    const bool person = m_runner.model().detectionMode() == DetectionMode::person;
    const std::size_t picked
        = choose({ L::t(K::setPerson) + " (" + L::t(K::obRecommended) + ") · " + L::t(K::setPersonNote),
                     L::t(K::setMotion) + " · " + L::t(K::setMotionNote) },
            person ? 0 : 1);
    m_flow->setDetectionMode(picked == 0 ? DetectionMode::person : DetectionMode::motion);
    m_flow->next();
}

void TerminalSetup::telegram()
{
    Model& model = m_runner.model();
    m_flow->go(ObStep::telegram);
    // The stored bot, if any, is looked up first; its read is queued before this one.
    bool read = false;
    bool stored = false;
    model.readToken([&](OptionalText token) {
        read = true;
        stored = token.has_value();
    });
    wait([&] { return read; });
    if (stored)
        wait([&] { return m_flow->keyState() != OnboardingModel::KeyState::checking; });
    print(L::t(K::obTgTitle));
    if (m_flow->bot()) {
        print(L::t(K::obTgConnected, { m_flow->bot()->username }));
        if (choose({ L::t(K::obTgKeepCurrent), L::t(K::obTgUseOther) }, 0) == 0) {
            m_flow->next();
            return;
        }
        m_flow->useOtherBot();
    }
    print(L::t(K::obTgLead));
    print("1. " + L::t(K::obTg1) + " https://t.me/BotFather");
    print("2. " + L::t(K::obTg2) + " " + m_flow->suggestedUsername());
    print("   " + L::t(K::obTgTaken, { TelegramSetup::withNumber(m_flow->suggestedUsername(), 27) }));
    print("3. " + L::t(K::obTg3));
    for (;;) {
        m_flow->setKeyText(ask(L::t(K::hlKeyAsk), true));
        if (m_flow->keyState() != OnboardingModel::KeyState::checking)
            m_flow->checkKey();
        if (m_flow->keyState() == OnboardingModel::KeyState::checking)
            print(L::t(K::obKeyChecking));
        wait([&] { return m_flow->keyState() != OnboardingModel::KeyState::checking; });
        switch (m_flow->keyState()) {
        case OnboardingModel::KeyState::ok:
            print(L::t(K::obKeyOK, { m_flow->bot()->username }));
            m_flow->next();
            return;
        case OnboardingModel::KeyState::bad:
        case OnboardingModel::KeyState::empty:
            print(L::t(K::obKeyBad));
            break;
        case OnboardingModel::KeyState::rejected:
            print(L::t(K::obKeyRejected));
            break;
        case OnboardingModel::KeyState::offline:
        case OnboardingModel::KeyState::checking:
            print(L::t(K::obKeyOffline));
            break;
        }
    }
}

void TerminalSetup::pair()
{
    const Settings& settings = m_runner.model().settings();
    print(L::t(K::obConfTitle));
    if (m_flow->step() == ObStep::confirm && !m_flow->deadline()) {
        // A confirmed chat of the same bot: keep it, or pair another.
        print(L::t(K::obConfCurrent, { settings.chatLabel.value_or("-") }));
        if (choose({ L::t(K::obConfKeep), L::t(K::obConfOther) }, 0) == 0) {
            m_flow->keepChat();
            return;
        }
        m_flow->connectAnotherChat();
    }
    while (m_flow->step() == ObStep::confirm) {
        print(L::t(K::obConfLead));
        // The link needs the bot's username, which pairing looks up when it is not known yet.
        QElapsedTimer started;
        started.start();
        wait([&] { return m_flow->botLink() || started.elapsed() > 5000; });
        if (const auto link = m_flow->botLink()) {
            print(L::t(K::obConfOpen, { m_flow->bot()->username }) + ": " + *link);
            if (const auto code = QrCode::encode(*link))
                std::fputs(terminalQr(*code).c_str(), stdout);
        }
        print(L::t(K::obConfAlt, { m_flow->code() }));
        print(L::t(K::obConfWaiting));
        wait([&] { return m_flow->candidate() || m_flow->expired(); });
        if (!m_flow->candidate()) {
            print(L::t(K::obConfExpired));
            ask(L::t(K::hlPressEnter));
            m_flow->startPairing();
            continue;
        }
        print(L::t(K::obConfHeard) + " " + m_flow->candidate()->label());
        if (choose({ L::t(K::obConfYes), L::t(K::obConfNo) }) == 1) {
            m_flow->refuseCandidate();
            continue;
        }
        m_flow->confirmCandidate();
        wait([&] { return !m_flow->confirming(); });
        if (m_flow->step() == ObStep::confirm && m_runner.model().notice())
            print(*m_runner.model().notice());
    }
}

void TerminalSetup::test()
{
    using Kind = OnboardingModel::TestState::Kind;
    print(L::t(K::obTestTitle));
    print(L::t(K::obTestLead));
    print(L::t(K::obTestSendLead));
    ask(L::t(K::hlPressEnter));
    for (;;) {
        m_flow->sendTest();
        wait([&] { return m_flow->testState().kind != Kind::sending; });
        const auto& state = m_flow->testState();
        const bool sent = state.kind == Kind::sent;
        print(sent ? L::t(K::obTestSent, { state.text }) : L::t(K::testFail, { state.text }));
        if (sent) {
            if (choose({ L::t(K::obTestArrived), L::t(K::obTestNot) }, 0) == 0)
                return;
            print(L::t(K::obTestNotHelp));
        }
        if (choose({ L::t(K::obTestSendAgain), L::t(K::obNotNow) }, 0) == 1)
            return;
    }
}

void TerminalSetup::done()
{
    const Model& model = m_runner.model();
    m_flow->go(ObStep::done);
    print(L::t(K::obDoneTitle));
    print(L::t(K::obDoneWatching, { L::t(model.roi().isFull() ? K::setUseWhole : K::setAreaPart) }));
    print(L::t(K::obDoneAlertWhen,
        { L::t(model.detectionMode() == DetectionMode::person ? K::setPerson : K::setMotion) }));
    print(L::t(K::obDoneAlertsTo, { model.settings().chatLabel.value_or("-") }));
    print(L::t(K::hlSetupDone));
}

} // namespace vardel
