#pragma once

#include "StatusPresentation.h"

#include <QWidget>

class QLabel;

namespace vardel {

// The main window's status header: the tone-coloured symbol, the title and the subtitle of a
// StatusPresentation, with its screen-reader text. Main thread.
class StatusHeader final : public QWidget {
    Q_OBJECT
public:
    explicit StatusHeader(QWidget* parent = nullptr);

    void present(const StatusPresentation& presentation);

private:
    QLabel* m_symbol;
    QLabel* m_title;
    QLabel* m_subtitle;
    StatusPresentation m_shown;
};

} // namespace vardel
