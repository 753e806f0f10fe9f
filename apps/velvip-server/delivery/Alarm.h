#pragma once

#include <QtGlobal>

// A wait of so many milliseconds that another thread can cut short. The time is counted by the
// kernel from the call, not against a clock's reading, so a wall clock set back or forward (or
// faked in tests) never stretches it.
class Alarm
{
public:
    Alarm();
    ~Alarm();
    Alarm(const Alarm &) = delete;
    Alarm &operator=(const Alarm &) = delete;

    // Waits up to `milliseconds` or until Ring(); true when rung (the ring is then used up).
    bool Wait(qint64 milliseconds);
    void Ring();

private:
    int m_fd = -1;
};
