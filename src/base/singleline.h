#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

namespace kiku {

// A one-line box's text after an insertion that brought line breaks with it: what was
// inserted before the cursor keeps only its part before the first break; the text after the
// cursor stays (and is itself cut at a break, should it hold one). `cursor` moves to the end
// of the kept part.
QString cutInsertedLineBreaks(const QString& text, int* cursor);

// Keeps a one-line box to one line whatever arrives in it: a paste, a drop or a program's
// setText with line breaks keeps only the text before the first break.
class SingleLineValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// Gives the box a SingleLineValidator, owned by the box.
void keepSingleLine(QLineEdit* box);

} // namespace kiku
