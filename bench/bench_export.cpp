// Exporting a box of 10,000 messages to an mbox file and to a folder of .eml files, beside
// `cat` of the same box file, measured in the same run (median of five, page cache warm).
#include "base/paths.h"
#include "benchsupport.h"
#include "exchange/boxexport.h"
#include "store/mailbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kiku;
using kiku::bench::median;

namespace {

// The sample box, with a line "From " in every fifth text for the mbox to quote.
MailRecord record(int i) {
    MailRecord r = bench::sampleRecord(i);
    if (i % 5 == 0)
        r.body = QStringLiteral("From the office\r\n").repeated(1 + i % 200);
    return r;
}

double timeCat(const QString& path) {
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    cat.start(QStringLiteral("cat"), {path});
    cat.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

double timeExport(const QString& target) {
    QElapsedTimer t;
    t.start();
    ExportOptions options;
    options.format = exportFormatFor(target);
    options.accountAddress = QStringLiteral("me@example.jp");
    const ExportResult r = exportBoxes({Box::OthersInbox}, target, options);
    const double ms = t.nsecsElapsed() / 1e6;
    if (!r.ok) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(r.error));
        std::exit(1);
    }
    if (options.format == ExportFormat::Mbox)
        QFile::remove(target);
    else
        QDir(target).removeRecursively();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bench_export-XXXXXX"));
    if (!home.isValid() || !QDir(home.path()).mkdir(QStringLiteral("★MailData")))
        return 1;
    ProgramFolder::set(home.path());
    const QString box = home.path() + QStringLiteral("/★MailData/vbmdata3.data");
    {
        QFile f(box);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 1; i <= records; ++i)
            f.write(encodeMail(record(i), RecordLayout::Standard));
    }
    std::printf("bench_export: %d messages, box file %.1f MB in %s\n", records,
                QFileInfo(box).size() / 1e6, qPrintable(home.path()));
    timeCat(box); // warm the page cache for everybody
    const QString mbox = home.path() + QStringLiteral("/out.mbox");
    const QString eml = home.path() + QStringLiteral("/out-eml");
    std::vector<double> cat, toMbox, toEml;
    for (int run = 0; run < 5; ++run) {
        cat.push_back(timeCat(box));
        toMbox.push_back(timeExport(mbox));
        toEml.push_back(timeExport(eml));
    }
    std::printf("  cat box > /dev/null       %9.2f ms\n", median(cat));
    std::printf("  export to mbox            %9.2f ms   mbox / cat = %.2f\n", median(toMbox),
                median(toMbox) / median(cat));
    std::printf("  export to .eml folder     %9.2f ms   eml / cat  = %.2f\n", median(toEml),
                median(toEml) / median(cat));
    return 0;
}
