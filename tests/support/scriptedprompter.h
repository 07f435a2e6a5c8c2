#pragma once

#include "base/prompter.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kiku::test {

// A prompter that answers questions from a script and records everything it was shown.
// Installs itself for its lifetime.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString text;
        QString title;
        bool question = false;
        bool warning = false;
    };

    ScriptedPrompter() { Prompter::install(this); }
    ~ScriptedPrompter() override { Prompter::install(nullptr); }

    // Answers for the next questions, in order; when the script runs out the answer is No.
    void answer(std::initializer_list<bool> answers) { m_answers.append(answers); }

    bool askYesNo(const QString& question) override {
        m_shown.append({question, QStringLiteral("確認"), true});
        return m_answers.isEmpty() ? false : m_answers.takeFirst();
    }
    void notify(const QString& text, const QString& title) override {
        m_shown.append({text, title, false});
    }
    void warn(const QString& text, const QString& title) override {
        m_shown.append({text, title, false, true});
    }
    // OK/Cancel warnings take their answers from the same script (true = OK).
    bool askOkCancel(const QString& text, const QString& title) override {
        m_shown.append({text, title, true});
        return m_answers.isEmpty() ? false : m_answers.takeFirst();
    }

    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const {
        QStringList t;
        for (const Shown& s : m_shown)
            t << s.text;
        return t;
    }
    void clear() { m_shown.clear(); }

private:
    QList<bool> m_answers;
    QList<Shown> m_shown;
};

} // namespace kiku::test
