#pragma once

namespace zk {

// One timer of a window, by id, with a period that may be set before it
// starts. T is the window.
template <class T, unsigned TDefaultPeriodMs, int TId> class CSingleTimerImpl
{
public:
    static constexpr int kTimerId = TId;

    void SetTimerPeriod(unsigned periodMs) { m_periodMs = periodMs; }
    void StartTimer() { static_cast<T*>(this)->SetTimer(TId, m_periodMs); }
    void StopTimer() { static_cast<T*>(this)->KillTimer(TId); }

private:
    unsigned m_periodMs = TDefaultPeriodMs;
};

} // namespace zk
