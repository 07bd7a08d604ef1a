// The crash report: an unhandled fault, or a failed assertion, shows a report
// with its sentence and the failing thread's call stack.
//
// The failing process only collects what it knows (the sentence, the program
// counters of its stack, its process id) into a record that it formats ahead
// of time, and hands it to the report program (qor_crashreport, beside the
// emulator) through a pipe. The report program resolves the addresses to
// functions, files and lines, writes the report to standard error and to a
// file in the working folder, and shows the dialog unless the run is headless.
#pragma once
#include <cstdint>

// Installs the fault handlers (segmentation fault, bus error, arithmetic,
// illegal instruction, trap, abort) on an alternate stack. Call it first.
void HostInstallCrashHandler();
// The report program to start; by default qor_crashreport in the folder of
// the running program. Null or empty restores the default.
void HostSetCrashReporter(const char* path);

// Shows the report for a failed assertion and returns when it is dismissed
// (Ignore, or no dialog); Abort ends the process with exit code 255, Debug
// raises a breakpoint trap here.
void AssertReport(const char* expression, const char* file, uint32_t line);

// The report program's answers: the dialog's button.
constexpr int kCrashAbort = 3, kCrashDebug = 4, kCrashIgnore = 5;

// The Windows-style exception code that names a signal and its si_code. A
// fault address within 64 KiB of the interrupted stack pointer counts as the
// stack used up.
uint32_t CrashCodeForSignal(int signal, int code, uintptr_t faultAddress, uintptr_t stackPointer);
// The report's sentence for an exception code; each ends with one blank.
const char* CrashExceptionText(uint32_t code);
