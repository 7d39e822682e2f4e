#pragma once

namespace bw {

// Blocks the calling thread for the given milliseconds (window events are not processed).
void Sleep(int ms);
// Seconds since midnight with fractions, as the platform's Timer.
double Timer();
// Processes the window events that are waiting, then returns.
void DoEvents();

// Makes the C library read the local time zone once: with TZ unset, glibc looks at
// /etc/localtime again (a stat) on every local-time conversion, thousands of times while a
// window fills. TZ then names that same file, so the zone is the one the system has at start;
// a TZ that is set already is left as it is. Call first thing in main, before any thread.
void readTimeZoneOnce();

} // namespace bw
