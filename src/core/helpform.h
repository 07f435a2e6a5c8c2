#pragma once

#include <QWidget>

namespace kiku {

// The explanation window: where mail is kept and how the hearts grow. Static text and a
// diagram, nothing to do.
class HelpForm : public QWidget {
    Q_OBJECT
public:
    explicit HelpForm(QWidget* parent = nullptr);
};

} // namespace kiku
