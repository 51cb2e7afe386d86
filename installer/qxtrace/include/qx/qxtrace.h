// The tracing library "qxTrace.dll": one line per call, printf-style.
//
// Each line starts with the local time and the process id and is appended
// to the trace file with a single write, so lines of several processes do
// not interleave. The file is named by the environment variable
// QXTRACE_FILE, else by the value "TraceFile" of HKEY_LOCAL_MACHINE
// "Software\Velmora\qxTrace"; with neither, nothing is written.
#pragma once

extern "C" {
// Returns the number of bytes written, 0 when tracing is off, -1 on failure.
__attribute__((visibility("default"), format(printf, 1, 2))) int qxtTrace(const char* format, ...);
}
