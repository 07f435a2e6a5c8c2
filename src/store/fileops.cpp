#include "store/fileops.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>
#include <vector>

namespace kiku {

FileOps* FileOps::s_installed = nullptr;

FileOps& FileOps::current() {
    static FileOps s_system;
    return s_installed ? *s_installed : s_system;
}

bool FileOps::threadSafe() const {
    return typeid(*this) == typeid(FileOps);
}

int FileOps::open(const char* path, int flags, int mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int FileOps::close(int fd) {
    return ::close(fd);
}

qint64 FileOps::pread(int fd, char* buffer, qint64 size, qint64 offset) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

qint64 FileOps::pwrite(int fd, const char* data, qint64 size, qint64 offset) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += n;
    }
    return done;
}

int FileOps::copyRange(int from, qint64 fromOffset, int to, qint64 toOffset, qint64 size) {
    loff_t in = fromOffset;
    loff_t out = toOffset;
    qint64 left = size;
    // copy_file_range lets the kernel move the pages without a trip through user space.
    // The copy goes in slices, and each slice is handed to the disk at once
    // (sync_file_range, only a hint: the caller's fsync is what checks), so the disk
    // writes while the next slice is copied and the final fsync has little left to do.
    constexpr qint64 kSlice = 8 << 20;
    while (left > 0) {
        const loff_t sliceStart = out;
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size_t(qMin(left, kSlice)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && left == size &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            break; // not supported here: copy by hand below
        if (n < 0)
            return -1;
        if (n == 0) {
            errno = EIO; // the source ended early
            return -1;
        }
        ::sync_file_range(to, sliceStart, n, SYNC_FILE_RANGE_WRITE);
        left -= n;
    }
    std::vector<char> buffer(size_t(qMin<qint64>(left, 1 << 20)));
    while (left > 0) {
        const qint64 chunk = qMin<qint64>(left, qint64(buffer.size()));
        const qint64 got = FileOps::pread(from, buffer.data(), chunk, in);
        if (got < 0)
            return -1;
        if (got != chunk) {
            errno = EIO;
            return -1;
        }
        if (FileOps::pwrite(to, buffer.data(), chunk, out) != chunk)
            return -1;
        in += chunk;
        out += chunk;
        left -= chunk;
    }
    return 0;
}

int FileOps::fsync(int fd) {
    return ::fsync(fd);
}

void FileOps::startWriteBack(int fd, qint64 offset, qint64 length) {
    ::sync_file_range(fd, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
}

int FileOps::ftruncate(int fd, qint64 length) {
    int r;
    do {
        r = ::ftruncate(fd, off_t(length));
    } while (r < 0 && errno == EINTR);
    return r;
}

int FileOps::punchHole(int fd, qint64 offset, qint64 length) {
    return ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(offset),
                       off_t(length));
}

int FileOps::fileSize(int fd, qint64* size) {
    struct stat st;
    if (::fstat(fd, &st) < 0)
        return -1;
    *size = st.st_size;
    return 0;
}

int FileOps::exists(const char* path, bool* exists) {
    struct stat st;
    if (::stat(path, &st) == 0) {
        *exists = true;
        return 0;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        *exists = false;
        return 0;
    }
    return -1;
}

int FileOps::rename(const char* from, const char* to) {
    return ::rename(from, to);
}

int FileOps::unlink(const char* path) {
    return ::unlink(path);
}

int FileOps::syncFolder(const char* path) {
    const int fd = FileOps::open(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -1;
    const int r = ::fsync(fd);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return r;
}

int FileOps::makeFolder(const char* path) {
    return ::mkdir(path, 0700);
}

int FileOps::listFolder(const char* path, QList<QByteArray>* names) {
    names->clear();
    DIR* dir = ::opendir(path);
    if (!dir)
        return -1;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names->append(name);
        errno = 0;
    }
    const int saved = errno;
    ::closedir(dir);
    errno = saved;
    return saved == 0 ? 0 : -1;
}

} // namespace kiku
