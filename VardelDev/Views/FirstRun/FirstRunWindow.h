#pragma once

#ifndef Q_MOC_RUN
#include "K.h"
#include "OnboardingModel.h"
#endif

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace vardel {

class AreaPicture;
class BotFatherDemo;
class Model;
class QrView;

// The first-run guide, 760 x 560: one page per step of its onboarding model, which it creates and shows.
// Every text, visible part and enabled button follows the published state of the two models, in the
// application's language, and is written again whenever that state changes. The guide ends through its last
// step (the model's `finished`: protection starts when asked, the window closes, then `done` runs) or by
// closing the window, which leaves the flow where it is. The model is released with deleteLater. Main thread.
class FirstRunWindow final : public QWidget {
    Q_OBJECT

public:
    // Shows the guide over `app`, or brings forward the one already open for it. The window deletes
    // itself once closed.
    static FirstRunWindow* open(
        Model& app, std::function<void()> done = {}, OnboardingModel::Options options = {});

    explicit FirstRunWindow(Model& app, OnboardingModel::Options options = {}, QWidget* parent = nullptr);
    ~FirstRunWindow() override;

    // Runs after the guide ended through its last step, once the window is closed.
    std::function<void()> done;
    // The flow being shown; null once it has ended or the window was closed.
    OnboardingModel* flow() const { return m_flow; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void refresh();

private:
    enum class Look { title, heading, body, note, code };
    using Text = std::function<QString()>;
    using Condition = std::function<bool()>;

    QString t(K key, std::initializer_list<std::string_view> args = {}) const;
    // Widgets whose text, visibility or state follow the models.
    QLabel* label(QBoxLayout* into, Text text, Look look = Look::body);
    QLabel* label(QBoxLayout* into, K key, Look look = Look::body);
    QPushButton* button(QBoxLayout* into, K name, Text text, std::function<void()> action);
    QPushButton* button(QBoxLayout* into, K key, std::function<void()> action);
    // A part of a page shown only while `visible` holds; its layout.
    QBoxLayout* panel(QBoxLayout* into, Condition visible);
    void bullets(QBoxLayout* into, std::initializer_list<K> keys, const QString& mark);
    void follow(std::function<void()> binding) { m_bindings.push_back(std::move(binding)); }
    void showWhen(QWidget* widget, Condition visible);
    QBoxLayout* page();

    void buildLanguage();
    void buildIntro();
    void buildCamera();
    void buildArea();
    void buildAlerts();
    void buildTelegram();
    void buildConfirm();
    void buildTest();
    void buildDone();
    void buildFooter(QBoxLayout* into);

    void restyle();
    void showPicture();
    void ended(bool startProtecting);
    bool previewing() const;
    ObStep step() const;

    Model& m_app;
    QPointer<OnboardingModel> m_flow;
    std::vector<std::function<void()>> m_bindings;
    std::vector<std::pair<QLabel*, Look>> m_styled;
    bool m_refreshing = false;
    bool m_refreshAgain = false;
    bool m_ended = false;

    QStackedWidget* m_pages = nullptr;
    QLineEdit* m_key = nullptr;
    AreaPicture* m_cameraPicture = nullptr;
    AreaPicture* m_areaPicture = nullptr;
    BotFatherDemo* m_demo = nullptr;
    QrView* m_qr = nullptr;
    bool m_showHelp = false;
    bool m_showCautions = false;
    bool m_showTestHelp = false;
    QTimer m_pictureTimer;
    double m_pictureTime = -1;
};

} // namespace vardel
