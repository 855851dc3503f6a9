#pragma once

#include "Autostart.h"
#include "K.h"

#include <QWidget>

#include <initializer_list>
#include <string_view>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollArea;

namespace vardel {

class Model;

// The settings window over the application model: detection mode and sensitivity, the watched area, the
// alert chat with its test and reconnect, the recordings folder, language, camera and the start-at-login
// entry. It reads the model's published state and calls its operations; it keeps no settings of its own
// and re-texts itself when the model's language changes. Main thread only; the model must outlive it.
// The application's shell makes it for `model.openSettings` and shows it.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    SettingsWindow(Model& model, QWidget* parent = nullptr, Autostart autostart = Autostart::standard());

protected:
    // Re-reads the start-at-login entry, which the user may have changed elsewhere, and on the first
    // showing sizes the window to its content, never taller than the screen.
    void showEvent(QShowEvent* event) override;

private:
    QString text(K key, std::initializer_list<std::string_view> args = {}) const;
    void build();
    void connectModel();
    void retext();
    void fitWidth();
    void fitSize();
    void showDetectionMode();
    void showSensitivity();
    void showArea();
    void showTelegram();
    void showCameras();
    void showLanguage();
    void showNotice();
    void showProblem(const QString& problem);
    void openRecordings();
    void switchAutostart(bool on);

    Model& m_model;
    Autostart m_autostart;
    bool m_sized = false;
    QWidget* m_areaView = nullptr;
    QScrollArea* m_scroll = nullptr;
    QGroupBox* m_alerts = nullptr;
    QGroupBox* m_area = nullptr;
    QGroupBox* m_destination = nullptr;
    QGroupBox* m_recordings = nullptr;
    QLabel* m_alertWhen = nullptr;
    QRadioButton* m_person = nullptr;
    QRadioButton* m_motion = nullptr;
    QLabel* m_modeNote = nullptr;
    QLabel* m_sensitivityLabel = nullptr;
    QButtonGroup* m_levels = nullptr;
    QLabel* m_areaText = nullptr;
    QPushButton* m_markArea = nullptr;
    QPushButton* m_wholeArea = nullptr;
    QLabel* m_chat = nullptr;
    QPushButton* m_sendTest = nullptr;
    QPushButton* m_reconnect = nullptr;
    QLabel* m_testResult = nullptr;
    QLabel* m_folder = nullptr;
    QPushButton* m_openFolder = nullptr;
    QLabel* m_recordingsNote = nullptr;
    QLabel* m_languageLabel = nullptr;
    QComboBox* m_language = nullptr;
    QLabel* m_cameraLabel = nullptr;
    QComboBox* m_camera = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    QLabel* m_problem = nullptr;
    QLabel* m_notice = nullptr;
};

} // namespace vardel
