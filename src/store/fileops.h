#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace kiku {

// Every file-system call the mailbox and address files make goes through this class, so
// a test can make any one of them fail (see ScopedFileOps). The functions follow POSIX:
// they return -1 and set errno on failure. The default implementation calls the system
// directly; one virtual call per file operation is its whole cost.
class FileOps {
public:
    virtual ~FileOps() = default;

    virtual int open(const char* path, int flags, int mode = 0666);
    virtual int close(int fd);
    // Whole transfers: a short read or write is continued, so a result other than
    // `size` means end of file (pread) or an error (-1).
    virtual qint64 pread(int fd, char* buffer, qint64 size, qint64 offset);
    virtual qint64 pwrite(int fd, const char* data, qint64 size, qint64 offset);
    // Copies `size` bytes between two open files (in the kernel where it can). 0 or -1.
    virtual int copyRange(int from, qint64 fromOffset, int to, qint64 toOffset, qint64 size);
    virtual int fsync(int fd);
    // Asks the system to start writing a range of an open file to disk now, so that a later
    // fsync has less to wait for. Only a hint: nothing is durable before fsync.
    virtual void startWriteBack(int fd, qint64 offset, qint64 length);
    virtual int ftruncate(int fd, qint64 length);
    // Gives the disk space of a range back to the file system, which then reads as zeros;
    // the size stays. Fails with EOPNOTSUPP where the file system cannot.
    virtual int punchHole(int fd, qint64 offset, qint64 length);
    // The size of an open file.
    virtual int fileSize(int fd, qint64* size);
    // Whether a path exists: 0 with *exists set, or -1 when it cannot be told.
    virtual int exists(const char* path, bool* exists);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    // Makes the entries of a folder (renames, new and removed files) durable.
    virtual int syncFolder(const char* path);
    // Creates a folder (mode 0700 before the umask); an existing one is an error (EEXIST).
    virtual int makeFolder(const char* path);
    // The names of a folder's entries, without "." and "..".
    virtual int listFolder(const char* path, QList<QByteArray>* names);

    // Whether these calls may also come from a thread of the store's own (a pack's writer)
    // while the installing thread goes on with others. The system implementation may; a
    // subclass (a test's fake, with its counters and logs) is taken not to, unless it says so.
    virtual bool threadSafe() const;

    // The implementation in use.
    static FileOps& current();

private:
    friend class ScopedFileOps;
    static FileOps* s_installed;
};

// Tests: routes every store file operation through `ops` while it lives.
class ScopedFileOps {
public:
    explicit ScopedFileOps(FileOps& ops) : m_previous(FileOps::s_installed) {
        FileOps::s_installed = &ops;
    }
    ~ScopedFileOps() { FileOps::s_installed = m_previous; }
    ScopedFileOps(const ScopedFileOps&) = delete;
    ScopedFileOps& operator=(const ScopedFileOps&) = delete;

private:
    FileOps* m_previous;
};

} // namespace kiku
