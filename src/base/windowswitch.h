#pragma once

class QWidget;

namespace kiku {

// The shared window switch: `target` takes the top-left position of `source`, is shown (and
// brought to the front), and `source` is hidden, not closed.
void switchWindow(QWidget* target, QWidget* source);

} // namespace kiku
