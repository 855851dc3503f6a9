#include "MainWindow.h"

#include "AreaEditor.h"
#include "Brand.h"
#include "CameraStage.h"
#include "L.h"
#include "Model.h"
#include "StatusHeader.h"
#include "Symbols.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vardel {

namespace {

    QString q(const std::string& text) { return QString::fromStdString(text); }

    QLabel* plainLabel(const char* name, QWidget* parent)
    {
        auto* label = new QLabel(parent);
        label->setObjectName(name);
        // Chat names and failure texts come from outside: never markup.
        label->setTextFormat(Qt::PlainText);
        return label;
    }

    QPushButton* linkButton(const char* name, QWidget* parent)
    {
        auto* button = new QPushButton(parent);
        button->setObjectName(name);
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet("QPushButton { color: palette(link); padding: 2px 6px; }");
        return button;
    }

    double nowSeconds() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

    // How long a notice stays before the window clears it.
    constexpr int kNoticeMs = 6000;

} // namespace

MainWindow::MainWindow(Model& model, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
{
    setWindowTitle(q(std::string(Brand::name)));
    auto* central = new QWidget(this);
    m_header = new StatusHeader(central);
    m_stage = new CameraStage(model, central);
    m_preview = new QPushButton(central);
    m_preview->setObjectName("previewToggle");
    m_area = new QPushButton(central);
    m_area->setObjectName("areaButton");
    m_protection = new QPushButton(central);
    m_protection->setObjectName("protectionToggle");
    m_state = plainLabel("protectionState", central);
    m_contextSymbol = new QLabel(central);
    m_primary = plainLabel("contextPrimary", central);
    m_secondary = plainLabel("contextSecondary", central);
    m_secondary->setWordWrap(true);
    m_link = linkButton("contextLink", central);
    m_notice = plainLabel("notice", central);
    m_notice->setWordWrap(true);
    m_update = plainLabel("updateLine", central);
    m_download = linkButton("updateDownload", central);
    QPalette secondary = m_secondary->palette();
    secondary.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    m_secondary->setPalette(secondary);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_preview);
    controls->addWidget(m_area);
    controls->addStretch(1);
    controls->addWidget(m_state);
    controls->addWidget(m_protection);

    auto* contextLines = new QVBoxLayout;
    contextLines->setSpacing(1);
    contextLines->addWidget(m_primary);
    contextLines->addWidget(m_secondary);
    auto* context = new QHBoxLayout;
    context->addWidget(m_contextSymbol, 0, Qt::AlignTop);
    context->addLayout(contextLines, 1);
    context->addWidget(m_link, 0, Qt::AlignTop);

    auto* update = new QHBoxLayout;
    update->addWidget(m_update, 1);
    update->addWidget(m_download);

    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(10);
    column->addWidget(m_header);
    column->addWidget(m_stage, 1);
    column->addLayout(controls);
    column->addLayout(context);
    column->addWidget(m_notice);
    column->addLayout(update);
    setCentralWidget(central);

    connect(m_preview, &QPushButton::clicked, &m_model, &Model::togglePreview);
    connect(m_area, &QPushButton::clicked, &m_model, &Model::beginAreaEdit);
    connect(m_protection, &QPushButton::clicked, &m_model, &Model::toggleMonitoring);
    connect(m_link, &QPushButton::clicked, this, [this] {
        if (m_linkAction == StatusLines::Link::cameraHelp)
            m_model.openCameraSettings();
        else if (m_linkAction == StatusLines::Link::viewPhoto)
            m_model.openLastPhoto();
    });
    connect(m_download, &QPushButton::clicked, this, [this] {
        if (m_model.openUpdate)
            m_model.openUpdate();
    });

    // Any published change redraws once, after the burst of changes of one model step.
    for (auto signal : { &Model::phaseChanged, &Model::presentationChanged, &Model::previewOnChanged,
             &Model::monitoringWantedChanged, &Model::monitorSinceChanged, &Model::lastEventChanged,
             &Model::lastPhotoSentAtChanged, &Model::photoPendingChanged, &Model::telegramOKChanged,
             &Model::queueChanged, &Model::chatLabelChanged, &Model::onACChanged,
             &Model::permissionDeniedChanged, &Model::personAtChanged, &Model::personBoxesChanged,
             &Model::editingAreaChanged, &Model::formatInfoChanged, &Model::updateChanged,
             &Model::currentROIChanged, &Model::frameAspectChanged, &Model::languageChanged })
        connect(&m_model, signal, this, &MainWindow::scheduleRefresh);
    connect(&m_model, &Model::noticeChanged, this, [this] {
        scheduleRefresh();
        if (m_model.notice())
            m_noticeExpiry.start();
    });
    m_noticeExpiry.setSingleShot(true);
    m_noticeExpiry.setInterval(kNoticeMs);
    connect(&m_noticeExpiry, &QTimer::timeout, this, [this] { m_model.setNotice(std::nullopt); });
    m_seconds.setInterval(1000);
    connect(&m_seconds, &QTimer::timeout, this, &MainWindow::refresh);
    refresh();
}

MainWindow::Look MainWindow::lookOfModel() const
{
    const double now = nowSeconds();
    const StatusLines::Input input = StatusLines::Input::from(m_model, now);
    Look look;
    look.header = m_model.presentation();
    look.lines = StatusLines::make(input);
    look.mode = input.mode;
    look.previewOn = m_model.previewOn();
    look.protecting = m_model.monitoringWanted() || input.mode == Mode::monitor;
    look.personVisible = StatusLines::personVisible(input);
    look.notice = m_model.notice();
    look.update = m_model.update();
    return look;
}

void MainWindow::refresh()
{
    m_refreshPending = false;
    showLook(lookOfModel());
}

void MainWindow::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, [this] {
        if (m_refreshPending)
            refresh();
    }, Qt::QueuedConnection);
}

void MainWindow::showLook(const Look& look)
{
    const StatusLines& lines = look.lines;
    m_header->present(look.header);
    m_stage->refresh(lines, look.mode, look.personVisible);
    m_preview->setText(q(L::t(look.previewOn ? K::ctlCloseCamera : K::camShow)));
    m_area->setText(q(L::t(K::setMarkOnCamera)));
    m_area->setEnabled(!m_model.editingArea());
    m_protection->setText(q(L::t(look.protecting ? K::ctlStop : K::ctlStart)));
    m_protection->setToolTip(look.protecting ? q(L::t(K::ctlStopHelp)) : QString());
    m_state->setText(q(lines.control));

    const QColor symbolColour = lines.symbolColour == StatusLines::SymbolColour::accent
        ? Symbols::toneColour(StatusPresentation::Tone::protected_, QColor())
        : palette().color(QPalette::PlaceholderText);
    m_contextSymbol->setPixmap(Symbols::pixmap(lines.symbol, symbolColour, 18, devicePixelRatioF()));
    m_primary->setText(q(lines.primary));
    m_secondary->setText(q(lines.secondary));
    m_linkAction = lines.link;
    m_link->setVisible(lines.link != StatusLines::Link::none);
    if (lines.link != StatusLines::Link::none)
        m_link->setText(q(L::t(lines.link == StatusLines::Link::cameraHelp ? K::ctxOpenCamSettings : K::ctxViewPhoto)));

    m_notice->setVisible(look.notice.has_value());
    m_notice->setText(look.notice ? q(*look.notice) : QString());
    m_update->setVisible(look.update.has_value());
    m_download->setVisible(look.update.has_value());
    if (look.update) {
        m_update->setText(q(L::t(K::upAvailable, { look.update->version })));
        m_download->setText(q(L::t(K::upDownload, { look.update->version })));
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    emit closeRequested();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    m_seconds.start();
    refresh();
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    m_seconds.stop();
}

} // namespace vardel
