#pragma once

#ifndef Q_MOC_RUN
#include "AppLanguage.h"
#include "K.h"
#endif

#include <QFrame>
#include <QTimer>

#include <string>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace vardel {

// The conversation with BotFather that creates a bot, played as chat bubbles that appear one after
// another: the user's "/newbot", BotFather asking for a name, the name, BotFather asking for a username,
// the suggested username, BotFather's answer with the key. A click shows the rest at once. Main thread.
class BotFatherDemo final : public QFrame {
    Q_OBJECT

public:
    static constexpr int kStepMs = 1200;

    explicit BotFatherDemo(std::string username, QWidget* parent = nullptr);

    // Plays the conversation from its first message.
    void start();
    // Shows every message that has not appeared yet.
    void showAll();
    bool playing() const { return m_timer.isActive(); }
    int shown() const { return m_shown; }
    int length() const { return static_cast<int>(m_lines.size()); }

    // Writes the bubbles shown (and the ones to come) in `language`.
    void retext(AppLanguage language);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Line {
        bool fromBotFather = false;
        K text = K::demoName; // unused when `literal` is set
        std::string literal;
        QLabel* sender = nullptr;
        QLabel* bubble = nullptr;
        QWidget* row = nullptr;
    };

    void showNext();

    std::vector<Line> m_lines;
    int m_shown = 0;
    AppLanguage m_language = AppLanguage::en;
    QVBoxLayout* m_column = nullptr;
    QTimer m_timer;
};

} // namespace vardel
