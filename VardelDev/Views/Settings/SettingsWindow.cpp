#include "SettingsWindow.h"

#include "L.h"
#include "Model.h"
#include "SensitivityLevel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace vardel {

namespace {

    // The watched area drawn into a small 16:9 picture of the camera's view.
    class AreaView final : public QWidget {
    public:
        explicit AreaView(const Model& model, QWidget* parent)
            : QWidget(parent)
            , m_model(model)
        {
            setFixedSize(96, 54);
        }

    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter painter(this);
            const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.fillRect(frame, palette().color(QPalette::Base));
            const ROI roi = m_model.roi();
            const QRectF area(frame.x() + roi.x * frame.width(), frame.y() + roi.y * frame.height(),
                roi.w * frame.width(), roi.h * frame.height());
            QColor fill = palette().color(QPalette::Highlight);
            fill.setAlphaF(0.35);
            painter.fillRect(area, fill);
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(area);
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawRect(frame);
        }

    private:
        const Model& m_model;
    };

    // Texts from outside (chat names, paths, test results) must never be read as markup.
    QLabel* plainLabel(QWidget* parent, bool wrap = false)
    {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(wrap);
        return label;
    }

    QString qs(const std::string& text) { return QString::fromStdString(text); }

    // The folder as the user knows it: the home folder written as "~".
    QString shownFolder(const std::filesystem::path& folder)
    {
        const QString path = QDir::cleanPath(qs(folder.string()));
        const QString home = QDir::homePath();
        if (home != "/" && (path == home || path.startsWith(home + '/')))
            return '~' + path.mid(home.size());
        return path;
    }

} // namespace

SettingsWindow::SettingsWindow(Model& model, QWidget* parent, Autostart autostart)
    : QWidget(parent, Qt::Window)
    , m_model(model)
    , m_autostart(std::move(autostart))
{
    setObjectName("settings");
    build();
    connectModel();
    retext();
    showSensitivity();
    showLanguage();
    showNotice();
}

QString SettingsWindow::text(K key, std::initializer_list<std::string_view> args) const
{
    // The model's language, not L's: the model announces a new language before it puts it in force.
    return qs(L::t(key, m_model.language(), args));
}

void SettingsWindow::build()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);

    m_alerts = new QGroupBox(content);
    auto* alerts = new QFormLayout(m_alerts);
    alerts->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_person = new QRadioButton(m_alerts);
    m_person->setObjectName("person");
    m_motion = new QRadioButton(m_alerts);
    m_motion->setObjectName("motion");
    auto* modes = new QHBoxLayout;
    modes->addWidget(m_person);
    modes->addWidget(m_motion);
    modes->addStretch();
    m_alertWhen = plainLabel(m_alerts);
    alerts->addRow(m_alertWhen, modes);
    m_modeNote = plainLabel(m_alerts, true);
    alerts->addRow(QString(), m_modeNote);
    m_levels = new QButtonGroup(this);
    auto* levels = new QHBoxLayout;
    for (const SensitivityLevel level : allSensitivityLevels) {
        auto* button = new QRadioButton(m_alerts);
        button->setObjectName(qs(L::t(labelKey(level), AppLanguage::en)).toLower());
        m_levels->addButton(button, static_cast<int>(level));
        levels->addWidget(button);
    }
    levels->addStretch();
    m_sensitivityLabel = plainLabel(m_alerts);
    alerts->addRow(m_sensitivityLabel, levels);
    column->addWidget(m_alerts);

    m_area = new QGroupBox(content);
    auto* area = new QHBoxLayout(m_area);
    m_areaView = new AreaView(m_model, m_area);
    m_areaText = plainLabel(m_area);
    m_markArea = new QPushButton(m_area);
    m_markArea->setObjectName("markArea");
    m_wholeArea = new QPushButton(m_area);
    m_wholeArea->setObjectName("wholeArea");
    area->addWidget(m_areaView);
    area->addWidget(m_areaText);
    area->addStretch();
    area->addWidget(m_markArea);
    area->addWidget(m_wholeArea);
    column->addWidget(m_area);

    m_destination = new QGroupBox(content);
    auto* destination = new QVBoxLayout(m_destination);
    m_chat = plainLabel(m_destination, true);
    m_chat->setObjectName("chat");
    m_chat->setTextInteractionFlags(Qt::TextSelectableByMouse);
    destination->addWidget(m_chat);
    auto* telegram = new QHBoxLayout;
    m_sendTest = new QPushButton(m_destination);
    m_sendTest->setObjectName("sendTest");
    m_reconnect = new QPushButton(m_destination);
    m_reconnect->setObjectName("reconnect");
    telegram->addWidget(m_sendTest);
    telegram->addWidget(m_reconnect);
    telegram->addStretch();
    destination->addLayout(telegram);
    m_testResult = plainLabel(m_destination, true);
    m_testResult->setObjectName("testResult");
    destination->addWidget(m_testResult);
    column->addWidget(m_destination);

    m_recordings = new QGroupBox(content);
    auto* recordings = new QVBoxLayout(m_recordings);
    auto* folderRow = new QHBoxLayout;
    m_folder = plainLabel(m_recordings);
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folder->setText(shownFolder(m_model.paths().events()));
    m_openFolder = new QPushButton(m_recordings);
    m_openFolder->setObjectName("openFolder");
    folderRow->addWidget(m_folder);
    folderRow->addStretch();
    folderRow->addWidget(m_openFolder);
    recordings->addLayout(folderRow);
    m_recordingsNote = plainLabel(m_recordings, true);
    recordings->addWidget(m_recordingsNote);
    column->addWidget(m_recordings);

    auto* general = new QFormLayout;
    general->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_language = new QComboBox(content);
    m_language->setObjectName("language");
    for (const AppLanguage language : AppLanguage::allCases())
        m_language->addItem(qs(std::string(language.nativeName())));
    m_languageLabel = plainLabel(content);
    general->addRow(m_languageLabel, m_language);
    m_camera = new QComboBox(content);
    m_camera->setObjectName("camera");
    m_camera->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_cameraLabel = plainLabel(content);
    general->addRow(m_cameraLabel, m_camera);
    m_startAtLogin = new QCheckBox(content);
    m_startAtLogin->setObjectName("startAtLogin");
    general->addRow(QString(), m_startAtLogin);
    column->addLayout(general);
    column->addStretch();

    m_scroll = new QScrollArea(this);
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_problem = plainLabel(this, true);
    m_problem->setObjectName("problem");
    m_problem->setStyleSheet("color: #c0392b");
    m_notice = plainLabel(this, true);
    m_notice->setObjectName("notice");
    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(column->contentsMargins());
    footer->setSpacing(column->spacing());
    footer->addWidget(m_problem);
    footer->addWidget(m_notice);
    auto* window = new QVBoxLayout(this);
    window->setContentsMargins({});
    window->setSpacing(0);
    window->addWidget(m_scroll, 1);
    window->addLayout(footer);
}

void SettingsWindow::connectModel()
{
    connect(
        m_person, &QRadioButton::clicked, this, [this] { m_model.setDetectionMode(DetectionMode::person); });
    connect(
        m_motion, &QRadioButton::clicked, this, [this] { m_model.setDetectionMode(DetectionMode::motion); });
    connect(m_levels, &QButtonGroup::idClicked, this,
        [this](int id) { m_model.sensitivityChanged(sensitivityValue(static_cast<SensitivityLevel>(id))); });
    // The editor opens over the live picture in the main window, which this window would cover.
    connect(m_markArea, &QPushButton::clicked, this, [this] {
        m_model.beginAreaEdit();
        close();
    });
    connect(m_wholeArea, &QPushButton::clicked, this, [this] { m_model.saveReferenceROI(ROI::full()); });
    connect(m_sendTest, &QPushButton::clicked, this, [this] { m_model.testTelegram(); });
    connect(m_reconnect, &QPushButton::clicked, this, [this] {
        m_model.requireChatConfirmation();
        if (m_model.openOnboarding)
            m_model.openOnboarding();
    });
    connect(m_openFolder, &QPushButton::clicked, this, &SettingsWindow::openRecordings);
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        m_model.setLanguage(AppLanguage::allCases().at(static_cast<std::size_t>(index)));
    });
    connect(m_camera, &QComboBox::activated, this,
        [this](int index) { m_model.setCamera(m_camera->itemData(index).toString().toStdString()); });
    connect(m_startAtLogin, &QCheckBox::toggled, this, &SettingsWindow::switchAutostart);

    connect(&m_model, &Model::detectionModeChanged, this, &SettingsWindow::showDetectionMode);
    connect(&m_model, qOverload<>(&Model::sensitivityChanged), this, &SettingsWindow::showSensitivity);
    connect(&m_model, &Model::roiChanged, this, &SettingsWindow::showArea);
    connect(&m_model, &Model::chatLabelChanged, this, &SettingsWindow::showTelegram);
    connect(&m_model, &Model::telegramBusyChanged, this, &SettingsWindow::showTelegram);
    connect(&m_model, &Model::telegramResultChanged, this, &SettingsWindow::showTelegram);
    connect(&m_model, &Model::telegramFailedChanged, this, &SettingsWindow::showTelegram);
    connect(&m_model, &Model::camerasChanged, this, &SettingsWindow::showCameras);
    connect(&m_model, &Model::noticeChanged, this, &SettingsWindow::showNotice);
    connect(&m_model, &Model::languageChanged, this, [this] {
        retext();
        showLanguage();
    });
}

void SettingsWindow::retext()
{
    setWindowTitle(text(K::setTitle));
    m_alerts->setTitle(text(K::setAlerts));
    m_alertWhen->setText(text(K::setAlertWhen));
    m_person->setText(text(K::setPerson));
    m_motion->setText(text(K::setMotion));
    m_sensitivityLabel->setText(text(K::setSensitivity));
    for (const SensitivityLevel level : allSensitivityLevels)
        m_levels->button(static_cast<int>(level))->setText(text(labelKey(level)));
    m_area->setTitle(text(K::setArea));
    m_markArea->setText(text(K::setMarkOnCamera));
    m_wholeArea->setText(text(K::setUseWhole));
    m_destination->setTitle(text(K::setDestination));
    m_reconnect->setText(text(K::setReconnect));
    m_recordings->setTitle(text(K::setRecordings));
    m_openFolder->setText(text(K::setOpenFolder));
    m_recordingsNote->setText(text(K::setRecordingsNote));
    m_languageLabel->setText(text(K::setLanguage));
    m_cameraLabel->setText(text(K::setCamera));
    m_startAtLogin->setText(text(K::setStartAtLogin));
    showDetectionMode();
    showArea();
    showTelegram();
    showCameras();
    showProblem({});
    fitWidth();
}

void SettingsWindow::fitWidth()
{
    // Only the height scrolls: the window is never narrower than its widest row.
    setMinimumWidth(
        m_scroll->widget()->minimumSizeHint().width() + m_scroll->verticalScrollBar()->sizeHint().width());
}

void SettingsWindow::fitSize()
{
    fitWidth();
    const QWidget* content = m_scroll->widget();
    const int bar = m_scroll->verticalScrollBar()->sizeHint().width();
    const int width = std::max(minimumWidth(), content->sizeHint().width() + bar);
    const int contentHeight
        = content->hasHeightForWidth() ? content->heightForWidth(width - bar) : content->sizeHint().height();
    const QLayoutItem* footer = layout()->itemAt(1);
    QSize size(width,
        contentHeight
            + (footer->hasHeightForWidth() ? footer->heightForWidth(width) : footer->sizeHint().height()));
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size.expandedTo(QSize(minimumWidth(), 0)));
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    {
        const QSignalBlocker quiet(m_startAtLogin);
        m_startAtLogin->setChecked(m_autostart.enabled());
    }
    if (!m_sized) {
        m_sized = true;
        fitSize();
    }
    QWidget::showEvent(event);
}

void SettingsWindow::showDetectionMode()
{
    const bool motion = m_model.detectionMode() == DetectionMode::motion;
    m_person->setChecked(!motion);
    m_motion->setChecked(motion);
    m_modeNote->setText(text(motion ? K::setMotionNote : K::setPersonNote));
}

void SettingsWindow::showSensitivity()
{
    m_levels->button(static_cast<int>(sensitivityLevel(m_model.sensitivity())))->setChecked(true);
}

void SettingsWindow::showArea()
{
    const bool whole = m_model.roi().isFull();
    m_areaText->setText(text(whole ? K::setAreaWhole : K::setAreaPart));
    m_wholeArea->setEnabled(!whole);
    m_areaView->update();
}

void SettingsWindow::showTelegram()
{
    m_chat->setText(qs(m_model.chatLabel()));
    const bool busy = m_model.telegramBusy();
    m_sendTest->setEnabled(!busy);
    m_sendTest->setText(text(busy ? K::setSending : K::setSendTest));
    const auto& result = m_model.telegramResult();
    m_testResult->setVisible(result.has_value() && !busy);
    m_testResult->setText(result ? qs(*result) : QString());
    m_testResult->setStyleSheet(m_model.telegramFailed() ? "color: #c0392b" : QString());
}

void SettingsWindow::showCameras()
{
    const QSignalBlocker quiet(m_camera);
    m_camera->clear();
    const std::string chosen = m_model.selectedCamera();
    bool listed = false;
    for (const auto& camera : m_model.cameras()) {
        m_camera->addItem(qs(camera.name), qs(camera.name));
        listed = listed || camera.name == chosen;
    }
    // A chosen camera that is unplugged stays shown as chosen; it comes back when plugged in.
    if (!listed && !chosen.empty())
        m_camera->insertItem(0, qs(chosen), qs(chosen));
    if (m_camera->count() == 0)
        m_camera->addItem(text(K::setNoCamera));
    m_camera->setEnabled(!m_model.cameras().empty());
    m_camera->setCurrentIndex(std::max(0, m_camera->findData(qs(chosen))));
}

void SettingsWindow::showLanguage()
{
    const auto& languages = AppLanguage::allCases();
    const auto found = std::find(languages.begin(), languages.end(), m_model.language());
    const QSignalBlocker quiet(m_language);
    m_language->setCurrentIndex(static_cast<int>(found - languages.begin()));
}

void SettingsWindow::showNotice()
{
    const auto& notice = m_model.notice();
    m_notice->setText(notice ? qs(*notice) : QString());
    m_notice->setVisible(notice.has_value());
}

void SettingsWindow::showProblem(const QString& problem)
{
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
}

void SettingsWindow::openRecordings()
{
    const std::filesystem::path folder = m_model.paths().events();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(qs(folder.string()))))
        showProblem({});
    else
        showProblem(text(K::setOpenFailed, { folder.string() }));
}

void SettingsWindow::switchAutostart(bool on)
{
    try {
        m_autostart.setEnabled(on);
        showProblem({});
    } catch (const std::exception& error) {
        showProblem(text(K::setAutostartFailed, { error.what() }));
        const QSignalBlocker quiet(m_startAtLogin);
        m_startAtLogin->setChecked(m_autostart.enabled());
    }
}

} // namespace vardel
