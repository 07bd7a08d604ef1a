// The report's sentences, keyed by the exception codes the report has always
// named, and the mapping of POSIX signals onto those codes.
#include <csignal>

#include "host/crash.h"

namespace {

struct CrashSentence {
  uint32_t code;
  const char* text;
};

constexpr CrashSentence kSentences[] = {
    {0xC0000005,
     "The thread tried to read from or write to a virtual address for which it does not have the "
     "appropriate access. "},
    {0xC000008C,
     "The thread tried to access an array element that is out of bounds and the underlying "
     "hardware supports bounds checking. "},
    {0x80000003, "A breakpoint was encountered. "},
    {0x80000002,
     "The thread tried to read or write data that is misaligned on hardware that does not provide "
     "alignment. For example, 16-bit values must be aligned on 2-byte boundaries; 32-bit values on "
     "4-byte boundaries, and so on. "},
    {0xC000008D,
     "One of the operands in a floating-point operation is denormal. A denormal value is one that "
     "is too small to represent as a standard floating-point value. "},
    {0xC000008E,
     "The thread tried to divide a floating-point value by a floating-point divisor of zero. "},
    {0xC000008F,
     "The result of a floating-point operation cannot be represented exactly as a decimal "
     "fraction. "},
    {0xC0000090,
     "This exception represents any floating-point exception not included in this list. "},
    {0xC0000091,
     "The exponent of a floating-point operation is greater than the magnitude allowed by the "
     "corresponding type. "},
    {0xC0000092,
     "The stack overflowed or underflowed as the result of a floating-point operation. "},
    {0xC0000093,
     "The exponent of a floating-point operation is less than the magnitude allowed by the "
     "corresponding type. "},
    {0xC000001D, "The thread tried to execute an invalid instruction. "},
    {0xC0000006,
     "The thread tried to access a page that was not present, and the system was unable to load "
     "the page. For example, this exception might occur if a network connection is lost while "
     "running a program over the network. "},
    {0xC0000094, "The thread tried to divide an integer value by an integer divisor of zero. "},
    {0xC0000095,
     "The result of an integer operation caused a carry out of the most significant bit of the "
     "result. "},
    {0xC0000026,
     "An exception handler returned an invalid disposition to the exception dispatcher. "
     "Programmers using a high-level language such as C should never encounter this exception. "},
    {0xC0000025,
     "The thread tried to continue execution after a noncontinuable exception occurred. "},
    {0xC0000096,
     "The thread tried to execute an instruction whose operation is not allowed in the current "
     "machine mode. "},
    {0x80000004,
     "A trace trap or other single-instruction mechanism signaled that one instruction has been "
     "executed. "},
    {0xC00000FD, "The thread used up its stack. "},
};

// Abort has no code of its own: it reads as "An Error has occured. ".
constexpr uint32_t kCrashOther = 0xE0000001;
constexpr uintptr_t kStackReach = 64 * 1024;

uint32_t CrashFpeCode(int code) {
  switch (code) {
    case FPE_INTDIV: return 0xC0000094;
    case FPE_INTOVF: return 0xC0000095;
    case FPE_FLTDIV: return 0xC000008E;
    case FPE_FLTOVF: return 0xC0000091;
    case FPE_FLTUND: return 0xC0000093;
    case FPE_FLTRES: return 0xC000008F;
    case FPE_FLTSUB: return 0xC000008C;
    default: return 0xC0000090;
  }
}

}  // namespace

uint32_t CrashCodeForSignal(int signal, int code, uintptr_t faultAddress, uintptr_t stackPointer) {
  switch (signal) {
    case SIGSEGV: {
      // The guard page below a stack that ran out sits just under its pointer.
      uintptr_t low = stackPointer > kStackReach ? stackPointer - kStackReach : 0;
      if (faultAddress != 0 && faultAddress >= low && faultAddress < stackPointer + kStackReach)
        return 0xC00000FD;
      return 0xC0000005;
    }
    case SIGBUS: return code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
    case SIGFPE: return CrashFpeCode(code);
    case SIGILL: return code == ILL_PRVOPC || code == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
    case SIGTRAP: return code == TRAP_TRACE ? 0x80000004 : 0x80000003;
    default: return kCrashOther;
  }
}

const char* CrashExceptionText(uint32_t code) {
  for (const CrashSentence& row : kSentences)
    if (row.code == code) return row.text;
  return "An Error has occured. ";
}
