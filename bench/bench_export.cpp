// Exporting a box of 10,000 messages to an mbox file and to a folder of .eml files, beside
// `cat` of the same box file, measured in the same run (median of five, page cache warm).
// The folder export is set beside its floor: as many small files made in a fresh folder and
// made durable the same way, with nothing else done.
// Usage: bench_export [messages] [mbox|eml] (both formats when no format is named).
#include "base/paths.h"
#include "benchsupport.h"
#include "exchange/boxexport.h"
#include "exchange/wholemessage.h"
#include "store/mailbox.h"
#include "store/originals.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

// The export's milliseconds; `bytes`, when given, gets the size of the files it wrote.
double timeExport(const QString& target, qint64* bytes = nullptr) {
    QElapsedTimer t;
    t.start();
    ExportOptions options;
    options.format = exportFormatFor(target);
    options.accountAddress = QStringLiteral("me@example.jp");
    // As the program exports: each record's original looked up by its digest.
    StoreResult loaded;
    options.originals = keptOriginals(loaded);
    const ExportResult r = exportBoxes({Box::OthersInbox}, target, options);
    const double ms = t.nsecsElapsed() / 1e6;
    if (!r.ok) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(r.error));
        std::exit(1);
    }
    if (options.format == ExportFormat::Mbox) {
        QFile::remove(target);
    } else {
        if (bytes) {
            *bytes = 0;
            for (const QFileInfo& file : QDir(target).entryInfoList(QDir::Files))
                *bytes += file.size();
        }
        QDir(target).removeRecursively();
    }
    return ms;
}

// `count` files of `size` bytes each created in a new folder beside `base`, then one sync of
// the file system, as the folder export does; the folder is removed untimed.
double timeFileCreation(const QString& base, int count, qsizetype size) {
    const QByteArray folder = QFile::encodeName(base + QStringLiteral("/files"));
    const QByteArray content(size, 'x');
    QElapsedTimer t;
    t.start();
    if (::mkdir(folder.constData(), 0700) != 0)
        std::exit(1);
    char name[64];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(name, sizeof name, "/%05d.eml", i);
        const QByteArray path = folder + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, content.constData(), size_t(size)) != size)
            std::exit(1);
        ::close(fd);
    }
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::syncfs(fd);
    ::close(fd);
    const double ms = t.nsecsElapsed() / 1e6;
    QDir(QFile::decodeName(folder)).removeRecursively();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
    const bool mboxOnly = argc > 2 && std::strcmp(argv[2], "mbox") == 0;
    const bool emlOnly = argc > 2 && std::strcmp(argv[2], "eml") == 0;
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
    std::vector<double> cat, toMbox, toEml, files;
    qint64 emlBytes = 0;
    for (int run = 0; run < 5; ++run) {
        cat.push_back(timeCat(box));
        if (!emlOnly)
            toMbox.push_back(timeExport(mbox));
        if (!mboxOnly) {
            toEml.push_back(timeExport(eml, &emlBytes));
            files.push_back(timeFileCreation(home.path(), records, emlBytes / qMax(records, 1)));
        }
    }
    // The same box with the original of every message kept, as new mail has it: each record's
    // digest is looked up and its original copied from the pack.
    std::vector<double> cat2, keptMbox;
    if (!emlOnly) {
        OriginalAppends pack;
        Mailbox(Box::OthersInbox).readAll([&](int, const MailRecord& r) {
            const QByteArray original = "From: sender@example.jp\r\nSubject: kept\r\n\r\n" +
                                        r.body.trimmed().toUtf8() + "\r\n";
            return pack.add(recordDigest(r), original).ok;
        });
        if (!pack.commit().ok)
            return 1;
        for (int run = 0; run < 5; ++run) {
            cat2.push_back(timeCat(box));
            keptMbox.push_back(timeExport(mbox));
        }
    }
    std::printf("  cat box > /dev/null       %9.2f ms\n", median(cat));
    if (!emlOnly)
        std::printf("  export to mbox            %9.2f ms   mbox / cat = %.2f\n", median(toMbox),
                    median(toMbox) / median(cat));
    if (!emlOnly)
        std::printf("  every original kept: cat %.2f ms, export to mbox %9.2f ms   mbox / cat = "
                    "%.2f\n",
                    median(cat2), median(keptMbox), median(keptMbox) / median(cat2));
    if (!mboxOnly) {
        std::printf("  export to .eml folder     %9.2f ms   eml / cat  = %.2f\n", median(toEml),
                    median(toEml) / median(cat));
        std::printf("  create %d files (floor) %9.2f ms   eml / floor = %.2f\n", records,
                    median(files), median(toEml) / median(files));
    }
    return 0;
}
