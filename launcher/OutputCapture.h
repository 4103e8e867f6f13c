// Process-level capture of standard output and error into the log files of
// OutputLog and ErrorLog: pipes in place of the standard handles and the C
// runtime's descriptors 1 and 2, read by a thread of the launcher that writes what
// arrives through the rolling writer. Java, the JVM itself and native code all
// reach the files, with no change to the application.
#pragma once

namespace zanto {

class LogFiles;

// Starts the capture when OutputLog is set; in a console run only with ConsoleLog
// (the output then reaches the console too). Call before the JVM's library is
// loaded, so that its C runtime takes the pipes as its standard handles. Nothing
// here stops the launch: a failure is logged and the service starts without it.
void startOutputCapture(bool console);
// Flushes the C runtimes of the process and waits, at most a few seconds, until
// everything written to the pipes so far is in the files. Safe to call at any
// time, from any thread, more than once; waits for nothing beyond that bound (an
// earlier drain, a pipe that is full because the log's writer hangs).
void drainOutputCapture();
// The same within `boundMs`. Without a capture: flushes the C runtime's streams.
void drainOutputCaptureWithin(unsigned long boundMs);
// Points descriptors 1 and 2 of every other C runtime loaded by now (the one a
// jvm.dll brings) at the capture: a runtime initialised before the capture
// started keeps the standard handles it found then. Nothing without a capture.
void bindRuntimeDescriptors();
// For tests only: the capture's writer uses the file operations `replacement` gives
// in place of the system's (a launcher built for tests sets it before launcherMain;
// the one that ships never does).
void replaceCaptureFiles(LogFiles* (*replacement)(LogFiles& system));

}  // namespace zanto
