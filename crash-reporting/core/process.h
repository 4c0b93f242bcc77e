// Facts about this process that set-up records.
//
// Contract: `CRProcessDebuggerAttached` is async-signal-safe (open, read, close and a stack
// buffer), though set-up is its only caller so far.
#pragma once

// Whether a tracer (a debugger) is attached: the TracerPid of /proc/self/status is not 0.
bool CRProcessDebuggerAttached();
// The same reading of a /proc/<pid>/status text, for tests.
bool CRProcessStatusShowsTracer(const char* statusText, long length);
