// Opening a box of 1,000 and of 10,000 messages in the viewer, next to the same listing done record
// by record (every 32 KB record read whole, the boxes, the pane and the clipboard filled for each
// one, one list insertion each), which ends in the same state.
#include "base/forms.h"
#include "base/paths.h"
#include "base/pause.h"
#include "base/text.h"
#include "core/boxviews.h"
#include "store/mailbox.h"
#include "viewer/tyakuform.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>

#include <cstdio>

using namespace kiku;

namespace {

bool writeBox(const QString& file, int messages) {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (int i = 1; i <= messages; ++i) {
        MailRecord record;
        record.subject = QStringLiteral("お知らせ その%1").arg(i);
        record.from = QStringLiteral("sender%1@example.jp").arg(i % 97);
        record.date =
            QStringLiteral("Mon, 8 Jan 2024 09:%1:00 +0900").arg(i % 60, 2, 10, QLatin1Char('0'));
        record.body = QStringLiteral("本文の行です。\r\n").repeated(40 + i % 50);
        out.write(encodeMail(record, RecordLayout::Standard));
    }
    return out.flush();
}

// The listing as the box was always read: record after record, each shown in full.
double recordByRecord(TyakuForm* viewer) {
    QElapsedTimer clock;
    clock.start();
    QTreeWidget* list = viewer->mailList();
    list->clear();
    viewer->clearStaging();
    Mailbox(Box::OthersInbox).readAll([&](int, const MailRecord& r) {
        viewer->setSubjectText(trimSpaces(r.subject));
        viewer->setAddressText(trimSpaces(r.from));
        viewer->setDateText(trimSpaces(r.date));
        viewer->setBodyText(trimSpaces(r.body));
        // Inserted into the list as it is made; the list owns it.
        new QTreeWidgetItem(
            list, QStringList{cutAtZero(r.subject), cutAtZero(r.from), cutAtZero(r.date)});
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(viewer->bodyText());
        viewer->setBodyText(trimSpaces(cutAtZero(clipboard->text())));
        return true;
    });
    viewer->setCountText(QString::number(list->topLevelItemCount()));
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Pause::setTimeScale(0);

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("★MailData"));
    ProgramFolder::set(home.path());
    bool allSame = true;
    for (const int messages : {1000, 10000}) {
        if (!writeBox(ProgramFolder::resolve(QStringLiteral("\\★MAilData\\vbmdata3.data")),
                      messages)) {
            std::fprintf(stderr, "cannot write the box\n");
            return 1;
        }
        // Warm up the window and the file cache once.
        TyakuForm* viewer = openBoxView(Box::OthersInbox, nullptr);
        const int runs = 5;
        double best = 1e18;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            openBoxView(Box::OthersInbox, nullptr);
            best = std::min(best, double(clock.nsecsElapsed()) / 1e6);
        }
        const QString shownSubject = viewer->subjectText();
        const int lines = viewer->listLineCount();
        // Slow enough that one run tells.
        const double peer = recordByRecord(viewer);
        const bool same = viewer->subjectText() == shownSubject && viewer->listLineCount() == lines;
        allSame = allSame && same;
        std::printf("box of %d messages (%.1f MB)\n", messages,
                    double(messages) * kMailRecordSize / 1e6);
        std::printf(
            "  box view (list fields + last record, one insertion): %8.1f ms (best of %d)\n", best,
            runs);
        std::printf("  record by record (whole records, per-record display): %8.1f ms (one run)\n",
                    peer);
        std::printf("  same end state: %s, %d lines\n", same ? "yes" : "NO", lines);
        std::fflush(stdout);
    }
    Forms::closeAll();
    return allSame ? 0 : 1;
}
