#pragma once

namespace bw {

// Blocks the calling thread for the given milliseconds (window events are not processed).
void Sleep(int ms);
// Seconds since midnight with fractions, as the platform's Timer.
double Timer();
// Processes the window events that are waiting, then returns.
void DoEvents();

} // namespace bw
