#include "Alarm.h"

#include "VelError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

Alarm::Alarm()
    : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_fd < 0)
        throw VelError(QStringLiteral("无法建立定时发送的等待（eventfd）"));
}

Alarm::~Alarm()
{
    ::close(m_fd);
}

bool Alarm::Wait(qint64 milliseconds)
{
    pollfd p{m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, int(std::clamp<qint64>(milliseconds, 0, 24 * 3600 * 1000)));
    if (ready <= 0)
        return false;
    std::uint64_t count = 0;
    return ::read(m_fd, &count, sizeof count) == sizeof count;
}

void Alarm::Ring()
{
    const std::uint64_t one = 1;
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}
