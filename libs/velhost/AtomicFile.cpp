#include "AtomicFile.h"

#include "VelError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <utility>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool diskFull(const QString &dir)
{
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(dir).constData(), &fs) == 0 && fs.f_bavail == 0;
}

QString cannotWrite(const QString &path, const QString &why)
{
    return QStringLiteral("无法写入文件 %1：%2").arg(path, why);
}

} // namespace

QString AtomicFile::WriteError(const QString &path, int error)
{
    if (error == ENOSPC || error == EDQUOT || (error == 0 && diskFull(QFileInfo(path).absolutePath())))
        return cannotWrite(path, QStringLiteral("磁盘空间不足"));
    if (error == 0)
        return cannotWrite(path, QStringLiteral("写入失败"));
    return cannotWrite(path, QString::fromLocal8Bit(std::strerror(error)));
}

namespace {

const QString kStaleMark = QStringLiteral(".velvip-");

bool processAlive(qint64 pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString fdPath(int fd)
{
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

// ".<name>.velvip-<pid>-" followed by six letters or digits.
QString namedPrefix(const QFileInfo &target)
{
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + kStaleMark
        + QString::number(::getpid()) + u'-';
}

} // namespace

int AtomicFile::RemoveStale(const QString &folder)
{
    static const QRegularExpression own(QStringLiteral("^\\..+\\.velvip-(\\d+)-[A-Za-z0-9]{6}(-journal|-wal|-shm)?$"));
    int removed = 0;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral(".*") + kStaleMark + u'*'}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = own.match(name);
        if (m.hasMatch() && !processAlive(m.captured(1).toLongLong())
            && ::unlink(QFile::encodeName(dir.filePath(name)).constData()) == 0)
            ++removed;
    }
    return removed;
}

AtomicFile::AtomicFile(const QString &target, Temp temp)
{
    QFileInfo info(target);
    if (info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    m_target = info.absoluteFilePath();
    const QByteArray name = QFile::encodeName(m_target);
    struct stat st {};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        throw VelError(cannotWrite(target, QStringLiteral("目标不是普通文件，不会覆盖它")));
    if (!info.absoluteDir().exists())
        throw VelError(cannotWrite(target, QStringLiteral("目录不存在")));
    RemoveStale(info.absolutePath());

    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (temp == Temp::Unnamed) {
        // Not every file system has unnamed files (EOPNOTSUPP, EISDIR on old kernels); nor can a
        // writer open one by name without /proc.
        m_fd = ::open(QFile::encodeName(info.absolutePath()).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd >= 0 && ::access(QFile::encodeName(fdPath(m_fd)).constData(), W_OK) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_unnamed = m_fd >= 0;
        if (m_unnamed)
            m_temp = fdPath(m_fd);
    }
    if (!m_unnamed) {
        QByteArray pattern = QFile::encodeName(namedPrefix(info) + QStringLiteral("XXXXXX"));
        m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (m_fd < 0)
            throw VelError(WriteError(target, errno));
        m_temp = QFile::decodeName(pattern);
    }
    ::fchmod(m_fd, mode);
}

AtomicFile::~AtomicFile()
{
    if (!m_done)
        discard();
}

void AtomicFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temp.isEmpty() && !m_unnamed)
        ::unlink(QFile::encodeName(m_temp).constData());
    m_done = true;
}

void AtomicFile::Restart()
{
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        throw VelError(WriteError(m_target, errno));
    m_written = m_writtenBack = 0;
}

void AtomicFile::Write(const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            discard();
            throw VelError(WriteError(m_target, error));
        }
        data += n;
        size -= size_t(n);
        m_written += n;
    }
    // A large file's pages go to the disk while the rest is written, so that the fsync of
    // Commit() waits for the last piece only. A hint: its failure is Commit()'s to find.
    constexpr long long piece = 8 << 20;
    if (m_written - m_writtenBack >= piece) {
        ::sync_file_range(m_fd, m_writtenBack, m_written - m_writtenBack, SYNC_FILE_RANGE_WRITE);
        m_writtenBack = m_written;
    }
}

void AtomicFile::Commit()
{
    // Writers that open the file by name may have failed quietly: a full disk leaves it short.
    if (::fsync(m_fd) != 0) {
        const int error = errno;
        discard();
        throw VelError(WriteError(m_target, error));
    }
    if (m_unnamed) {
        // Linked under a named temporary name first (a link cannot replace a file), then
        // renamed onto the target; the name lives only between the two calls.
        const QFileInfo info(m_target);
        QString linked;
        for (int attempt = 0; attempt < 100 && linked.isEmpty(); ++attempt) {
            const QString name = namedPrefix(info)
                + QString::number(QRandomGenerator::global()->bounded(1u << 30), 36).rightJustified(6, u'0').right(6);
            if (::linkat(AT_FDCWD, QFile::encodeName(m_temp).constData(), AT_FDCWD, QFile::encodeName(name).constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                linked = name;
            else if (errno != EEXIST) {
                const int error = errno;
                discard();
                throw VelError(WriteError(m_target, error));
            }
        }
        if (linked.isEmpty()) {
            discard();
            throw VelError(WriteError(m_target, EEXIST));
        }
        ::close(m_fd);
        m_fd = -1;
        m_unnamed = false;
        m_temp = linked;
    } else if (::close(std::exchange(m_fd, -1)) != 0) {
        const int error = errno;
        discard();
        throw VelError(WriteError(m_target, error));
    }
    if (::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_target).constData()) != 0) {
        const int error = errno;
        discard();
        throw VelError(WriteError(m_target, error));
    }
    m_done = true;
}

void RequireRegularFile(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        throw VelError(QStringLiteral("%1 不是普通文件（而是管道、设备或文件夹），不会读取它").arg(path));
}
