// "R" through the main window (offscreen) against the receive cycle alone, both from one
// Dovecot and for the same 2,000 small messages: what the windows add to a receive run
// (staging into the viewer, the count, the status line's sign of life).
//
// Each repetition loads the messages, flushes the disk (sync), then runs one side; the side
// that goes first alternates. Both store into the same empty boxes. Printed: the median and
// every time of each side, and the ratio of the medians.
//
//   bench_receive_window [--reps N] [--count N]     (default: 5 repetitions, 2,000 messages)
#include "base/forms.h"
#include "base/paths.h"
#include "base/pause.h"
#include "benchsupport.h"
#include "core/mainform.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "receivecorpus.h"
#include "settings/serversettings.h"
#include "temphome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace kiku;
using namespace kiku::bench;
namespace corpus = kiku::test::corpus;

namespace {

QString list(const std::vector<double>& v) {
    QString out;
    for (double t : v)
        out += QString::asprintf(" %.3f", t);
    return out;
}

void emptyBoxes(const test::TempHome& home) {
    QDir data(home.file(QStringLiteral("★MailData")));
    for (const QString& name : data.entryList({QStringLiteral("vbmdata*.data")}, QDir::Files))
        data.remove(name);
}

double libraryRun(const test::DovecotServer& server) {
    test::PlainReceiveHost host;
    host.partner = corpus::kPartner;
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    NMailReceiveLibrary library(mail);
    ServerSettings settings;
    settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
    QElapsedTimer timer;
    timer.start();
    ReceiveCycle(library, host).run(settings);
    return timer.nsecsElapsed() / 1e9;
}

double windowRun(MainForm* form) {
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(form->boardControl(QStringLiteral("Label7")), Qt::LeftButton);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int reps = 5;
    int count = 2000;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--reps"))
            reps = qMax(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--count"))
            count = qMax(1, args[++i].toInt());
    }
    test::DovecotServer server;
    if (!startDovecot(server))
        return 1;
    Pause::setTimeScale(0); // the press animation and the result's pause take no time
    test::TempHome home;
    home.writeFile(QStringLiteral("zadiru.ini"),
                   QStringLiteral("POP3=127.0.0.1:%1\r\n").arg(server.port()).toLatin1());
    home.writeFile(QStringLiteral("\\★MailData\\iniIdPass.ini"),
                   "[EXEINI]\r\nNAME=" + kUser.toUtf8() + "\r\nNAME2=" + kPassword.toUtf8() +
                       "\r\nNAME3=1\r\n");
    home.writeFile(QStringLiteral("\\★MailData\\iniIdPass2.ini"),
                   "[EXEINI]\r\nNAME=" + corpus::kPartner.toUtf8() + "\r\nNAME2=P\r\n");
    MainForm* form = Forms::show<MainForm>();
    form->receivedHeartTimer()->stop();
    form->sentHeartTimer()->stop();
    if (!QTest::qWaitForWindowExposed(form))
        std::fprintf(stderr, "the main window was not exposed\n");

    const auto senderOf = [](int i) {
        return i % 10 == 0 ? corpus::kPartner : QStringLiteral("sender%1@example.jp").arg(i);
    };
    std::vector<double> window, library;
    bool whole = true;
    for (int rep = 0; rep < reps; ++rep) {
        for (int side = 0; side < 2; ++side) {
            const bool windowSide = (side == 0) == (rep % 2 == 0);
            emptyBoxes(home);
            if (!loadMessages(server, count,
                              [&](int i) { return corpus::smallMessage(i, senderOf(i)); }))
                return 1;
            ::sync();
            if (windowSide)
                window.push_back(windowRun(form));
            else
                library.push_back(libraryRun(server));
            whole = whole && server.messageCount(kUser) == 0;
        }
    }
    const double w = median(window);
    const double l = median(library);
    std::printf("%d small messages, %d repetitions, order alternated\n", count, reps);
    std::printf("  \"R\" in the window : median %.3f s (runs:%s)\n", w, qPrintable(list(window)));
    std::printf("  receive cycle alone: median %.3f s (runs:%s)\n", l, qPrintable(list(library)));
    std::printf("  ratio              : %.2f x the cycle alone%s\n", w / l,
                whole ? "" : "; MESSAGES LEFT ON THE SERVER");
    Forms::closeAll();
    return whole ? 0 : 1;
}
