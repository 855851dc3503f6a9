#include "FirstRunWindow.h"

#include "AreaPicture.h"
#include "BotFatherDemo.h"
#include "L.h"
#include "Model.h"
#include "PhotoAnnotator.h"
#include "QrView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace vardel {

namespace {

    constexpr int kPictureMs = 100;
    constexpr int kPictureWidth = 640;

    QString q(const std::string& text) { return QString::fromStdString(text); }
    QString q(std::string_view text)
    {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }

    // The strip at the top names five parts of the nine steps.
    constexpr K kParts[] = { K::obWelcome, K::obCamera, K::obAreaAlerts, K::obTelegram, K::obTest };
    constexpr int kPartOfStep[] = { 0, 0, 1, 2, 2, 3, 3, 4, 4 };

    // "042917" reads and types more easily as "042 917".
    QString spaced(const std::string& code)
    {
        return code.size() == 6 ? q(code.substr(0, 3) + " " + code.substr(3)) : q(code);
    }

    QFont scaled(QFont font, double factor, bool bold)
    {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * factor);
        else
            font.setPixelSize(static_cast<int>(font.pixelSize() * factor));
        font.setBold(bold);
        return font;
    }

    QBoxLayout* row(QBoxLayout* into)
    {
        auto* layout = new QHBoxLayout;
        into->addLayout(layout);
        return layout;
    }

} // namespace

FirstRunWindow* FirstRunWindow::open(Model& app, std::function<void()> done, OnboardingModel::Options options)
{
    FirstRunWindow* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* existing = qobject_cast<FirstRunWindow*>(top);
        if (existing && &existing->m_app == &app && existing->m_flow)
            window = existing;
    }
    if (!window) {
        window = new FirstRunWindow(app, std::move(options));
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->done = std::move(done);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

FirstRunWindow::FirstRunWindow(Model& app, OnboardingModel::Options options, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_app(app)
    , m_flow(new OnboardingModel(app, std::move(options)))
{
    setObjectName(QStringLiteral("firstRun"));
    resize(760, 560);
    m_flow->finished = [this](bool startProtecting) { ended(startProtecting); };

    auto* outer = new QVBoxLayout(this);
    QBoxLayout* strip = row(outer);
    for (int part = 0; part < 5; ++part) {
        QLabel* name = label(strip, kParts[part]);
        name->setWordWrap(false);
        name->setAlignment(Qt::AlignCenter);
        follow([this, name, part] {
            const bool current = kPartOfStep[static_cast<int>(step())] == part;
            name->setFont(scaled(font(), 1, current));
            name->setEnabled(current);
        });
    }
    m_pages = new QStackedWidget;
    outer->addWidget(m_pages, 1);
    buildLanguage();
    buildIntro();
    buildCamera();
    buildArea();
    buildAlerts();
    buildTelegram();
    buildConfirm();
    buildTest();
    buildDone();
    label(
        outer, [this] { return q(m_app.notice().value_or("")); }, Look::note);
    buildFooter(outer);
    follow([this] {
        m_pages->setCurrentIndex(static_cast<int>(step()));
        QString title = t(K::mnSetupGuide);
        if (title.endsWith(QChar(0x2026)))
            title.chop(1);
        setWindowTitle(title);
    });

    const QMetaMethod update = metaObject()->method(metaObject()->indexOfSlot("refresh()"));
    const QMetaObject* flowMeta = m_flow->metaObject();
    for (int i = flowMeta->methodOffset(); i < flowMeta->methodCount(); ++i) {
        if (flowMeta->method(i).methodType() == QMetaMethod::Signal)
            connect(m_flow, flowMeta->method(i), this, update);
    }
    for (auto signal : { &Model::languageChanged, &Model::previewOnChanged, &Model::monitoringWantedChanged,
             &Model::permissionDeniedChanged, &Model::cameraCoveredChanged, &Model::camerasChanged,
             &Model::detectionModeChanged, &Model::roiChanged, &Model::currentROIChanged,
             &Model::frameAspectChanged, &Model::chatLabelChanged, &Model::noticeChanged })
        connect(&app, signal, this, &FirstRunWindow::refresh);

    // A guide left open when the application model goes must not touch it again.
    connect(&app, &QObject::destroyed, this, [this] {
        delete m_flow.data();
        m_pictureTimer.stop();
        hide();
        deleteLater();
    });

    m_pictureTimer.setInterval(kPictureMs);
    connect(&m_pictureTimer, &QTimer::timeout, this, &FirstRunWindow::showPicture);
    m_pictureTimer.start();
    restyle();
    refresh();
}

FirstRunWindow::~FirstRunWindow()
{
    if (m_flow) {
        m_flow->leave();
        m_flow->deleteLater();
    }
}

QString FirstRunWindow::t(K key, std::initializer_list<std::string_view> args) const
{
    // The application's language, not L's: the model announces a new language before L has it.
    return q(L::t(key, m_app.language(), args));
}

ObStep FirstRunWindow::step() const { return m_flow ? m_flow->step() : ObStep::done; }

bool FirstRunWindow::previewing() const { return m_app.previewOn() || m_app.monitoringWanted(); }

// Building blocks.

QLabel* FirstRunWindow::label(QBoxLayout* into, Text text, Look look)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText); // bot, chat and error texts come from outside
    label->setWordWrap(look != Look::code);
    if (look != Look::body)
        m_styled.emplace_back(label, look);
    into->addWidget(label);
    follow([label, text = std::move(text)] {
        const QString now = text();
        if (label->text() != now)
            label->setText(now);
        label->setHidden(now.isEmpty());
    });
    return label;
}

QLabel* FirstRunWindow::label(QBoxLayout* into, K key, Look look)
{
    return label(
        into, [this, key] { return t(key); }, look);
}

QPushButton* FirstRunWindow::button(QBoxLayout* into, K name, Text text, std::function<void()> action)
{
    auto* button = new QPushButton;
    button->setObjectName(q(rawValue(name)));
    if (into->direction() == QBoxLayout::TopToBottom)
        into->addWidget(button, 0, Qt::AlignLeft);
    else
        into->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this, action = std::move(action)] {
        if (m_flow)
            action();
    });
    follow([button, text = std::move(text)] {
        const QString now = text().replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (button->text() != now)
            button->setText(now);
    });
    return button;
}

QPushButton* FirstRunWindow::button(QBoxLayout* into, K key, std::function<void()> action)
{
    return button(
        into, key, [this, key] { return t(key); }, std::move(action));
}

QBoxLayout* FirstRunWindow::panel(QBoxLayout* into, Condition visible)
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    into->addWidget(widget);
    showWhen(widget, std::move(visible));
    return layout;
}

void FirstRunWindow::showWhen(QWidget* widget, Condition visible)
{
    follow([widget, visible = std::move(visible)] { widget->setVisible(visible()); });
}

void FirstRunWindow::bullets(QBoxLayout* into, std::initializer_list<K> keys, const QString& mark)
{
    for (K key : keys)
        label(into, [this, key, mark] { return mark + t(key); });
}

QBoxLayout* FirstRunWindow::page()
{
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    scroll->setWidget(content);
    m_pages->addWidget(scroll);
    return layout;
}

// The pages, in step order.

void FirstRunWindow::buildLanguage()
{
    QBoxLayout* p = page();
    label(p, K::obLangTitle, Look::title);
    label(p, K::obLangSub);
    std::vector<std::string> system;
    for (const QString& identifier : QLocale::system().uiLanguages())
        system.push_back(identifier.toStdString());
    const AppLanguage preferred = AppLanguage::preferred(system);
    for (AppLanguage language : AppLanguage::allCases()) {
        QBoxLayout* line = row(p);
        auto* choice = new QRadioButton(q(language.nativeName()));
        choice->setObjectName(q("language-" + std::string(language.rawValue())));
        line->addWidget(choice);
        connect(choice, &QRadioButton::clicked, this, [this, language] { m_flow->chooseLanguage(language); });
        follow([this, choice, language] {
            if (m_app.language() == language)
                choice->setChecked(true);
        });
        if (language == preferred)
            label(line, K::obFromMac, Look::note);
        line->addStretch(1);
    }
    label(p, K::obLangLater, Look::note);
    p->addStretch(1);
}

void FirstRunWindow::buildIntro()
{
    QBoxLayout* p = page();
    label(p, K::obIntroTitle, Look::title);
    label(p, K::obAbout5, Look::note);
    label(p, K::obIntroLead);
    const QString dot = QStringLiteral("•  ");
    label(p, K::obPrivateTitle, Look::heading);
    bullets(p, { K::obPriv1, K::obPriv2, K::obPriv3, K::obPriv4 }, dot);
    label(p, K::obKnowTitle, Look::heading);
    bullets(p, { K::obKnow1, K::obKnow2, K::obKnow3 }, dot);
    label(p, K::obNeed, Look::heading);
    bullets(p, { K::obNeedCam, K::obNeedSpot, K::obNeedTg }, dot);
    label(p, K::obLegal, Look::note);
    button(p, K::obLearnMore, [this] {
        m_showCautions = !m_showCautions;
        refresh();
    });
    QBoxLayout* cautions = panel(p, [this] { return m_showCautions; });
    label(cautions, K::lmTitle, Look::heading);
    bullets(cautions, { K::lm1, K::lm2, K::lm3, K::lm4 }, dot);
    button(cautions, K::close, [this] {
        m_showCautions = false;
        refresh();
    });
    p->addStretch(1);
}

void FirstRunWindow::buildCamera()
{
    QBoxLayout* p = page();
    label(p, K::obCamTitle, Look::title);
    label(p, K::obCamLead);

    QBoxLayout* picker = row(panel(p, [this] { return m_app.cameras().size() > 1; }));
    label(picker, K::obCamPicker);
    auto* cameras = new QComboBox;
    picker->addWidget(cameras, 1);
    connect(cameras, &QComboBox::activated, this,
        [this, cameras](int index) { m_app.setCamera(cameras->itemText(index).toStdString()); });
    follow([this, cameras] {
        QStringList names;
        for (const auto& camera : m_app.cameras())
            names << q(camera.name);
        QStringList shown;
        for (int i = 0; i < cameras->count(); ++i)
            shown << cameras->itemText(i);
        if (shown != names) {
            cameras->clear();
            cameras->addItems(names);
        }
        cameras->setCurrentText(q(m_app.settings().camera));
    });

    QBoxLayout* ask = panel(p, [this] { return !previewing(); });
    label(ask, [this] {
        return t(
            m_flow->cameraStatus() == OnboardingModel::CameraStatus::denied ? K::obCamDenied : K::obCamAsk);
    });
    button(ask, K::obCamAllow, [this] { m_flow->requestCamera(); });

    QBoxLayout* live = panel(p, [this] { return previewing(); });
    m_cameraPicture = new AreaPicture;
    live->addWidget(m_cameraPicture);
    label(live, K::obPreviewPill, Look::note);
    const QString check = QStringLiteral("✓  ");
    bullets(live, { K::obChkInView }, check);
    label(live, [this, check] { return check + t(m_app.cameraCovered() ? K::obChkCovered : K::obChkClear); });
    bullets(live, { K::obChkLid, K::obChkPower }, check);
    p->addStretch(1);
}

void FirstRunWindow::buildArea()
{
    QBoxLayout* p = page();
    label(p, K::obAreaTitle, Look::title);
    label(p, K::obAreaLead);
    for (const bool part : { false, true }) {
        auto* choice = new QRadioButton;
        choice->setObjectName(part ? QStringLiteral("setAreaPart") : QStringLiteral("setUseWhole"));
        p->addWidget(choice);
        connect(choice, &QRadioButton::clicked, this, [this, part] { m_flow->setAreaPart(part); });
        follow([this, choice, part] {
            choice->setText(t(part ? K::setAreaPart : K::setUseWhole));
            if (m_flow->areaPart() == part)
                choice->setChecked(true);
        });
    }
    label(
        p, [this] { return t(m_flow->areaPart() ? K::obAreaDragHint : K::obAreaWholeHint); }, Look::note);
    m_areaPicture = new AreaPicture;
    m_areaPicture->setObjectName(QStringLiteral("areaPicture"));
    p->addWidget(m_areaPicture);
    connect(m_areaPicture, &AreaPicture::drawn, this, [this](ROI area) {
        if (m_flow)
            m_flow->setDraft(area);
    });
    follow([this] {
        const bool part = m_flow->areaPart();
        m_areaPicture->setEditable(part);
        m_areaPicture->setAspect(m_app.frameAspect());
        std::optional<ROI> shown = m_flow->draft();
        if (!shown && !m_app.roi().isFull())
            shown = m_app.currentROI();
        m_areaPicture->setArea(part ? shown : std::nullopt);
    });
    p->addStretch(1);
}

void FirstRunWindow::buildAlerts()
{
    QBoxLayout* p = page();
    label(p, K::obAlertsTitle, Look::title);
    for (const auto& [mode, name, note] :
        { std::tuple { DetectionMode::person, K::setPerson, K::setPersonNote },
            std::tuple { DetectionMode::motion, K::setMotion, K::setMotionNote } }) {
        QBoxLayout* line = row(p);
        auto* choice = new QRadioButton;
        choice->setObjectName(q(rawValue(name)));
        line->addWidget(choice);
        if (mode == DetectionMode::person)
            label(line, K::obRecommended, Look::note);
        line->addStretch(1);
        label(p, note, Look::note);
        connect(choice, &QRadioButton::clicked, this, [this, mode] { m_flow->setDetectionMode(mode); });
        follow([this, choice, mode, name] {
            choice->setText(t(name));
            if (m_app.detectionMode() == mode)
                choice->setChecked(true);
        });
    }
    p->addStretch(1);
}

void FirstRunWindow::buildTelegram()
{
    using KeyState = OnboardingModel::KeyState;
    QBoxLayout* p = page();
    label(p, K::obTgTitle, Look::title);
    auto username = [this] { return m_flow->bot() ? m_flow->bot()->username : std::string(); };

    QBoxLayout* connected = panel(p, [this] { return m_flow->bot().has_value(); });
    label(
        connected, [this, username] { return t(K::obTgConnected, { username() }); }, Look::heading);
    QBoxLayout* choices = row(connected);
    button(choices, K::obTgKeepCurrent, [this] { m_flow->next(); });
    button(choices, K::obTgUseOther, [this] { m_flow->useOtherBot(); });
    choices->addStretch(1);

    QBoxLayout* setup = panel(p, [this] { return !m_flow->bot(); });
    label(setup, K::obTgLead);
    label(setup, K::obTgEasy, Look::note);
    label(
        setup, [this] { return QStringLiteral("1.  ") + t(K::obTg1); }, Look::heading);
    QBoxLayout* first = row(setup);
    button(first, K::obTgOpen, [] { QDesktopServices::openUrl(QUrl(q(TelegramSetup::botFatherLink))); });
    label(first, [] { return QStringLiteral("/newbot"); });
    button(
        first, K::obCopy, [this] { return t(m_flow->copied() ? K::obCopied : K::obCopy); },
        [this] { m_flow->copyNewBot(); })
        ->setObjectName(QStringLiteral("copyNewBot"));
    first->addStretch(1);

    label(
        setup, [this] { return QStringLiteral("2.  ") + t(K::obTg2); }, Look::heading);
    QBoxLayout* second = row(setup);
    label(second, [this] { return q(m_flow->suggestedUsername()); });
    button(
        second, K::obCopy, [this] { return t(m_flow->copiedUsername() ? K::obCopied : K::obCopy); },
        [this] { m_flow->copyUsername(); })
        ->setObjectName(QStringLiteral("copyUsername"));
    second->addStretch(1);
    label(
        setup,
        [this] { return t(K::obTgTaken, { TelegramSetup::withNumber(m_flow->suggestedUsername(), 27) }); },
        Look::note);
    button(setup, K::obWatchVideo, [this] {
        m_demo->setVisible(true);
        m_demo->start();
    });
    m_demo = new BotFatherDemo(m_flow->suggestedUsername());
    m_demo->hide();
    setup->addWidget(m_demo);
    follow([this] { m_demo->retext(m_app.language()); });

    label(
        setup, [this] { return QStringLiteral("3.  ") + t(K::obTg3); }, Look::heading);
    QBoxLayout* keyRow = row(setup);
    label(keyRow, K::obKeyLabel);
    m_key = new QLineEdit;
    m_key->setObjectName(QStringLiteral("key"));
    keyRow->addWidget(m_key, 1);
    connect(m_key, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_flow)
            m_flow->setKeyText(text.toStdString());
    });
    connect(m_key, &QLineEdit::returnPressed, this, [this] {
        if (m_flow)
            m_flow->checkKey();
    });
    follow([this] {
        if (m_key->text().toStdString() != m_flow->keyText())
            m_key->setText(q(m_flow->keyText()));
    });
    button(keyRow, K::obPaste, [this] { m_flow->pasteKey(); });
    label(setup, [this] {
        switch (m_flow->keyState()) {
        case KeyState::checking:
            return t(K::obKeyChecking);
        case KeyState::bad:
            return t(K::obKeyBad);
        case KeyState::rejected:
            return t(K::obKeyRejected);
        case KeyState::offline:
            return t(K::obKeyOffline);
        case KeyState::empty:
        case KeyState::ok:
            break;
        }
        return QString();
    });

    button(setup, K::obNeedHelp, [this] {
        m_showHelp = !m_showHelp;
        refresh();
    });
    QBoxLayout* help = panel(setup, [this] { return m_showHelp; });
    label(help, K::obHelpTitle, Look::heading);
    bullets(help, { K::obHelp1, K::obHelp2, K::obHelp3 }, QStringLiteral("•  "));
    label(
        p,
        [this, username] {
            return m_flow->keyState() == KeyState::ok ? t(K::obKeyOK, { username() }) : QString();
        },
        Look::note);
    p->addStretch(1);
}

void FirstRunWindow::buildConfirm()
{
    QBoxLayout* p = page();
    label(p, K::obConfTitle, Look::title);
    auto username = [this] { return m_flow->bot() ? m_flow->bot()->username : std::string(); };

    QBoxLayout* keep = panel(p, [this] { return !m_flow->pairing(); });
    label(keep, [this] { return t(K::obConfCurrent, { m_app.settings().chatLabel.value_or("") }); });
    QBoxLayout* keepChoices = row(keep);
    button(keepChoices, K::obConfKeep, [this] { m_flow->keepChat(); });
    button(keepChoices, K::obConfOther, [this] { m_flow->connectAnotherChat(); });
    keepChoices->addStretch(1);

    QBoxLayout* waiting
        = panel(p, [this] { return m_flow->pairing() && !m_flow->candidate() && !m_flow->expired(); });
    label(waiting, K::obConfLead);
    QBoxLayout* columns = row(waiting);
    auto* left = new QVBoxLayout;
    columns->addLayout(left, 1);
    m_qr = new QrView;
    m_qr->setFixedSize(180, 180);
    columns->addWidget(m_qr, 0, Qt::AlignTop);
    follow([this] { m_qr->setText(m_flow->botLink().value_or("")); });
    label(
        left, [this] { return spaced(m_flow->code()); }, Look::code);
    showWhen(button(
                 left, K::obConfOpen, [this, username] { return t(K::obConfOpen, { username() }); },
                 [this] { m_flow->openBot(); }),
        [this] { return m_flow->bot().has_value(); });
    label(left, [this] { return t(K::obConfAlt, { m_flow->code() }); });
    label(left, K::obConfWaiting, Look::note);
    left->addStretch(1);
    label(
        waiting, [this, username] { return m_flow->bot() ? t(K::obConfTrouble, { username() }) : QString(); },
        Look::note);

    QBoxLayout* found = panel(p, [this] { return m_flow->pairing() && m_flow->candidate().has_value(); });
    label(found, K::obConfHeard);
    label(
        found,
        [this] {
            return m_flow->candidate()
                ? q(m_flow->candidate()->label()) + QStringLiteral(" · ") + t(K::obPrivateChat)
                : QString();
        },
        Look::heading);
    QBoxLayout* answers = row(found);
    button(answers, K::obConfYes, [this] { m_flow->confirmCandidate(); });
    button(answers, K::obConfNo, [this] { m_flow->refuseCandidate(); });
    answers->addStretch(1);

    QBoxLayout* expired
        = panel(p, [this] { return m_flow->pairing() && m_flow->expired() && !m_flow->candidate(); });
    label(expired, K::obConfExpired);
    button(expired, K::obConfNew, [this] { m_flow->startPairing(); });
    p->addStretch(1);
}

void FirstRunWindow::buildTest()
{
    using Kind = OnboardingModel::TestState::Kind;
    QBoxLayout* p = page();
    label(p, K::obTestTitle, Look::title);
    label(p, K::obTestLead);
    label(p, K::obTestSendLead);
    QPushButton* send = button(
        p, K::setSendTest,
        [this] {
            switch (m_flow->testState().kind) {
            case Kind::sending:
                return t(K::setSending);
            case Kind::idle:
                return t(K::setSendTest);
            case Kind::sent:
            case Kind::failed:
                break;
            }
            return t(K::obTestSendAgain);
        },
        [this] {
            m_showTestHelp = false;
            m_flow->sendTest();
        });
    follow([this, send] { send->setEnabled(m_flow->testState().kind != Kind::sending); });
    label(p, [this] {
        const auto& state = m_flow->testState();
        if (state.kind == Kind::sent)
            return t(K::obTestSent, { state.text });
        return state.kind == Kind::failed ? t(K::testFail, { state.text }) : QString();
    });
    QBoxLayout* answers = row(panel(p, [this] { return m_flow->testState().kind == Kind::sent; }));
    button(answers, K::obTestArrived, [this] { m_flow->next(); });
    button(answers, K::obTestNot, [this] {
        m_showTestHelp = true;
        refresh();
    });
    answers->addStretch(1);
    label(
        p, [this] { return m_showTestHelp ? t(K::obTestNotHelp) : QString(); }, Look::note);
    p->addStretch(1);
}

void FirstRunWindow::buildDone()
{
    QBoxLayout* p = page();
    label(p, K::obDoneTitle, Look::title);
    label(p, K::obDoneLead);
    label(p, [this] {
        return t(K::obDoneWatching,
            { L::t(m_app.roi().isFull() ? K::obDoneWhole : K::obDonePart, m_app.language()) });
    });
    label(p, [this] {
        return t(K::obDoneAlertWhen,
            { L::t(m_app.detectionMode() == DetectionMode::person ? K::setPerson : K::setMotion,
                m_app.language()) });
    });
    label(p, [this] { return t(K::obDoneAlertsTo, { m_app.settings().chatLabel.value_or("Telegram") }); });
    label(p, K::obDoneHelp, Look::note);
    QBoxLayout* ways = row(p);
    button(ways, K::ctlStart, [this] { m_flow->finish(true); });
    button(ways, K::obNotNow, [this] { m_flow->finish(false); });
    ways->addStretch(1);
    p->addStretch(1);
}

void FirstRunWindow::buildFooter(QBoxLayout* into)
{
    QBoxLayout* footer = row(into);
    showWhen(
        button(footer, K::back, [this] { m_flow->back(); }), [this] { return step() != ObStep::language; });
    footer->addStretch(1);
    QPushButton* next = button(
        footer, K::next,
        [this] {
            return t(step() == ObStep::intro   ? K::obGetStarted
                    : step() == ObStep::camera ? K::obLooksGood
                                               : K::next);
        },
        [this] { m_flow->next(); });
    next->setDefault(true);
    showWhen(next, [this] { return step() != ObStep::confirm && step() != ObStep::done; });
    follow([this, next] {
        next->setEnabled((step() != ObStep::area || m_flow->canSaveArea())
            && (step() != ObStep::telegram || m_flow->bot().has_value()));
    });
}

// State.

void FirstRunWindow::refresh()
{
    if (m_refreshing) {
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    do {
        m_refreshAgain = false;
        if (m_flow) {
            for (const auto& binding : m_bindings)
                binding();
        }
    } while (m_refreshAgain);
    m_refreshing = false;
}

void FirstRunWindow::restyle()
{
    const QFont base = font();
    for (const auto& [label, look] : m_styled) {
        switch (look) {
        case Look::title:
            label->setFont(scaled(base, 1.45, true));
            break;
        case Look::heading:
            label->setFont(scaled(base, 1, true));
            break;
        case Look::note:
            label->setFont(scaled(base, 0.92, false));
            break;
        case Look::code:
            label->setFont(scaled(base, 2.2, true));
            break;
        case Look::body:
            break;
        }
    }
}

void FirstRunWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        restyle();
        refresh();
    }
}

// The live picture on the camera and area steps, at most ten times a second.
void FirstRunWindow::showPicture()
{
    if (step() != ObStep::camera && step() != ObStep::area)
        return;
    const Frame frame = m_app.latestFrame();
    if (frame.empty() || frame.time() == m_pictureTime)
        return;
    m_pictureTime = frame.time();
    QImage picture = PhotoAnnotator::image(frame);
    if (picture.width() > kPictureWidth)
        picture = picture.scaledToWidth(kPictureWidth, Qt::SmoothTransformation);
    m_cameraPicture->setPicture(picture);
    m_areaPicture->setPicture(picture);
}

// Ending.

void FirstRunWindow::ended(bool startProtecting)
{
    m_ended = true;
    if (startProtecting && !m_app.monitoringWanted())
        m_app.toggleMonitoring();
    close();
    if (auto then = std::exchange(done, nullptr))
        then();
}

void FirstRunWindow::closeEvent(QCloseEvent* event)
{
    m_pictureTimer.stop();
    if (m_flow) {
        if (!m_ended)
            m_flow->leave();
        m_flow->deleteLater();
        m_flow = nullptr;
    }
    QWidget::closeEvent(event);
}

} // namespace vardel
