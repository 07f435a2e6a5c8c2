#include "base/singleline.h"

#include "base/text.h"

#include <QLineEdit>

#include <algorithm>

namespace kiku {

QString cutInsertedLineBreaks(const QString& text, int* cursor) {
    const int at = std::clamp(*cursor, 0, int(text.size()));
    const QString head = beforeLineBreak(text.left(at));
    const QString tail = beforeLineBreak(text.mid(at));
    *cursor = int(head.size());
    return head + tail;
}

QValidator::State SingleLineValidator::validate(QString& input, int& pos) const {
    if (input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n')))
        input = cutInsertedLineBreaks(input, &pos);
    return Acceptable;
}

void keepSingleLine(QLineEdit* box) {
    box->setValidator(new SingleLineValidator(box));
}

} // namespace kiku
