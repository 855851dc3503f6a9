#pragma once

#include "StatusLines.h"
#include "StatusPresentation.h"
#include "Updates.h"

#include <QMainWindow>
#include <QTimer>

class QLabel;
class QPushButton;

namespace vardel {

class CameraStage;
class Model;
class StatusHeader;

// The main window over the application model: status header, camera stage with the area editor, the
// control row (preview, protection and its state text), the context line, the latest notice and a newer
// release. Everything shown is recomputed from the model's published state once per burst of changes and
// every second (the person chip's ten seconds). Closing it only emits `closeRequested`; the shell decides
// what happens. Main thread.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // Everything the window shows, computed from the model (or made by hand, to render any state).
    struct Look {
        StatusPresentation header {};
        StatusLines lines {};
        Mode mode = Mode::off;
        bool previewOn = false;
        bool protecting = false; // protection wanted or on
        bool personVisible = false;
        std::optional<std::string> notice {};
        std::optional<Updates::Release> update {};
    };

    explicit MainWindow(Model& model, QWidget* parent = nullptr);

    Look lookOfModel() const;
    void showLook(const Look& look);
    // Recomputes the look from the model now.
    void refresh();
    CameraStage& stage() { return *m_stage; }

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleRefresh();

    Model& m_model;
    StatusHeader* m_header;
    CameraStage* m_stage;
    QPushButton* m_preview;
    QPushButton* m_area;
    QPushButton* m_protection;
    QLabel* m_state;
    QLabel* m_contextSymbol;
    QLabel* m_primary;
    QLabel* m_secondary;
    QPushButton* m_link;
    QLabel* m_notice;
    QLabel* m_update;
    QPushButton* m_download;
    StatusLines::Link m_linkAction = StatusLines::Link::none;
    bool m_refreshPending = false;
    QTimer m_seconds;
    QTimer m_noticeExpiry;
};

} // namespace vardel
