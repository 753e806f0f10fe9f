#include "WorkerProtocol.h"

#include <QJsonDocument>

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

namespace WorkerProtocol {

bool Write(int fd, Frame type, const char *data, quint32 size)
{
    char head[5] = {char(type), char(size & 0xff), char((size >> 8) & 0xff), char((size >> 16) & 0xff),
                    char((size >> 24) & 0xff)};
    return writeAll(fd, head, sizeof head) && writeAll(fd, data, size);
}

bool WriteJson(int fd, Frame type, const QJsonObject &object)
{
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return Write(fd, type, json.constData(), quint32(json.size()));
}

std::optional<Received> Read(int fd, int timeoutMs, bool *timedOut)
{
    if (timeoutMs >= 0) {
        pollfd p{fd, POLLIN, 0};
        int rc;
        while ((rc = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        if (rc == 0) {
            if (timedOut)
                *timedOut = true;
            return std::nullopt;
        }
    }
    unsigned char head[5];
    if (!readAll(fd, reinterpret_cast<char *>(head), sizeof head))
        return std::nullopt;
    const quint32 size = quint32(head[1]) | quint32(head[2]) << 8 | quint32(head[3]) << 16 | quint32(head[4]) << 24;
    const auto type = Frame(head[0]);
    if (size > MaxFrame || (type != Frame::Header && type != Frame::Data && type != Frame::End))
        return std::nullopt;
    Received r{type, QByteArray(qsizetype(size), Qt::Uninitialized)};
    if (!readAll(fd, r.payload.data(), size))
        return std::nullopt;
    return r;
}

} // namespace WorkerProtocol
