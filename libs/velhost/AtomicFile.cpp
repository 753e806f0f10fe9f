#include "AtomicFile.h"

#include "VelError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

AtomicFile::AtomicFile(const QString &target)
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

    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                           + QStringLiteral(".XXXXXX"));
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0)
        throw VelError(WriteError(target, errno));
    m_temp = QFile::decodeName(pattern);
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
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
    if (!m_temp.isEmpty())
        ::unlink(QFile::encodeName(m_temp).constData());
    m_done = true;
}

void AtomicFile::Restart()
{
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        throw VelError(WriteError(m_target, errno));
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
    }
}

void AtomicFile::Commit()
{
    // Writers that open the file by name may have failed quietly: a full disk leaves it short.
    if (::fsync(m_fd) != 0 || ::close(m_fd) != 0) {
        const int error = errno;
        m_fd = -1;
        discard();
        throw VelError(WriteError(m_target, error));
    }
    m_fd = -1;
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
