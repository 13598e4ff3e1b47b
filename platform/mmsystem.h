// Multimedia timers: the system timer resolution and one-shot or periodic
// callbacks on a timer thread.
#pragma once

#include "wintypes.h"

typedef uint32_t UINT;
typedef UINT MMRESULT;
typedef void (*LPTIMECALLBACK)(UINT timerId, UINT msg, DWORD_PTR user, DWORD_PTR dw1, DWORD_PTR dw2);

#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97
#define TIME_ONESHOT 0x0000
#define TIME_PERIODIC 0x0001
#define TIME_CALLBACK_FUNCTION 0x0000

MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD timeGetTime();
// Returns the timer's id, 0 on a refusal.
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags);
// Once this returns, the callback is not running and will not run.
MMRESULT timeKillEvent(UINT timerId);
// How many timeBeginPeriod calls are not yet ended, for the given period.
UINT timeActivePeriods(UINT period);
