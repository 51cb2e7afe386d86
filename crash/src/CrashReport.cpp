#include "CrashReport.h"

#include <cstring>

namespace norvexc {

namespace {

constexpr int kWordDigits = static_cast<int>(sizeof(uintptr_t) * 2);

void AddSymbol(SafeText& text, const StackFrame& frame) {
  text.Add(frame.symbol);
  if (frame.symbolOffset != 0) {
    text.Add("()+");
    text.Dec(frame.symbolOffset, 4);
    text.Add(" byte(s)");
  } else {
    text.Add(' ');
  }
}

void AddSource(SafeText& text, const StackFrame& frame) {
  text.Add(frame.file);
  text.Add(", line ");
  text.Dec(frame.line, 4);
  if (frame.lineOffset != 0) {
    text.Add('+');
    text.Dec(frame.lineOffset, 4);
    text.Add(" byte(s)");
  }
}

}  // namespace

bool IsStackOverflow(int signal, const siginfo_t* info, const ucontext_t* context,
                     const ProcessMaps& maps) {
  if (signal != SIGSEGV || (info->si_code != SEGV_MAPERR && info->si_code != SEGV_ACCERR))
    return false;
  uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  uintptr_t sp = StackAddress(context);
  // A frame that does not fit faults within its own size of the stack
  // pointer, in the guard page or the gap below the stack.
  constexpr uintptr_t kReach = 256 * 1024;
  if (address + kReach < sp || address > sp + kReach) return false;
  const MapRegion* region = maps.Find(address);
  if (region && (region->readable || region->writable)) return false;
  // ...right below a stack: the mapping above the fault (past a guard page)
  // is writable memory that starts within reach.
  const MapRegion* above = maps.NextAbove(address);
  return above && above->writable && above->start - address <= kReach;
}

const char* ExceptionName(int signal, const siginfo_t* info, const ucontext_t* context,
                          const ProcessMaps& maps) {
  int code = info->si_code;
  switch (signal) {
    case SIGSEGV:
      if (IsStackOverflow(signal, info, context, maps)) return "EXCEPTION_STACK_OVERFLOW";
      if (code == SEGV_BNDERR) return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
      // SI_KERNEL: a general-protection fault, such as a non-canonical address.
      if (code > 0) return "EXCEPTION_ACCESS_VIOLATION";
      return nullptr;
    case SIGBUS:
      if (code == BUS_ADRALN) return "EXCEPTION_DATATYPE_MISALIGNMENT";
      if (code > 0) return "EXCEPTION_IN_PAGE_ERROR";
      return nullptr;
    case SIGILL:
      if (code == ILL_PRVOPC || code == ILL_PRVREG) return "EXCEPTION_PRIV_INSTRUCTION";
      if (code > 0) return "EXCEPTION_ILLEGAL_INSTRUCTION";
      return nullptr;
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
        case FPE_INTOVF: return "EXCEPTION_INT_OVERFLOW";
        case FPE_FLTDIV: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
        case FPE_FLTOVF: return "EXCEPTION_FLT_OVERFLOW";
        case FPE_FLTUND: return "EXCEPTION_FLT_UNDERFLOW";
        case FPE_FLTRES: return "EXCEPTION_FLT_INEXACT_RESULT";
        case FPE_FLTINV: return "EXCEPTION_FLT_INVALID_OPERATION";
        case FPE_FLTSUB: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
        default: return nullptr;
      }
    case SIGTRAP:
      if (code == TRAP_TRACE) return "EXCEPTION_SINGLE_STEP";
      // An int3 instruction reports SI_KERNEL on x86.
      if (code == TRAP_BRKPT || code == SI_KERNEL) return "EXCEPTION_BREAKPOINT";
      return nullptr;
    default:
      return nullptr;
  }
}

void AddSignalText(SafeText& text, int signal) {
  const char* description = ::sigdescr_np(signal);
  const char* abbreviation = ::sigabbrev_np(signal);
  text.Add(description ? description : "Unknown signal");
  text.Add(" (");
  if (abbreviation) {
    text.Add("SIG");
    text.Add(abbreviation);
  } else {
    text.Add("signal ");
    text.Dec(signal, 0);
  }
  text.Add(')');
}

uintptr_t InstructionAddress(const ucontext_t* context) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return context->uc_mcontext.pc;
#else
  (void)context;
  return 0;
#endif
}

uintptr_t StackAddress(const ucontext_t* context) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
  return context->uc_mcontext.sp;
#else
  (void)context;
  return 0;
#endif
}

unsigned CodeSegment(const ucontext_t* context) {
#if defined(__x86_64__)
  return static_cast<unsigned>(context->uc_mcontext.gregs[REG_CSGSFS] & 0xFFFF);
#else
  (void)context;
  return 0;
#endif
}

void AddReasonLine(SafeText& text, const char* program, int signal, const char* exceptionName,
                   const ucontext_t* context, const ProcessMaps& maps, const StackFrame* first) {
  uintptr_t ip = InstructionAddress(context);
  text.Add(program);
  text.Add(" caused an ");
  if (exceptionName) text.Add(exceptionName);
  else AddSignalText(text, signal);
  text.Add(" in module ");
  const char* module = maps.ModuleName(ip);
  text.Add(module ? module : "<UNKNOWN>");
  text.Add(" at ");
  text.Hex(CodeSegment(context), 4);
  text.Add(':');
  text.Hex(ip, kWordDigits);
  if (first && first->pc == ip) {
    if (first->hasSymbol) {
      text.Add(", ");
      AddSymbol(text, *first);
    }
    if (first->hasLine) {
      text.Add(", ");
      AddSource(text, *first);
    }
  }
}

void AddRegisters(SafeText& text, const ucontext_t* context) {
  struct Named {
    const char* name;
    uint64_t value;
  };
  auto addRow = [&text](const Named* row, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (i) text.Add("  ");
      text.Add(row[i].name);
      text.Add('=');
      text.Hex(row[i].value, 16);
    }
  };
#if defined(__x86_64__)
  const greg_t* r = context->uc_mcontext.gregs;
  auto g = [r](int index) { return static_cast<uint64_t>(r[index]); };
  const Named rows[][4] = {
      {{"RAX", g(REG_RAX)}, {"RBX", g(REG_RBX)}, {"RCX", g(REG_RCX)}, {"RDX", g(REG_RDX)}},
      {{"RSI", g(REG_RSI)}, {"RDI", g(REG_RDI)}, {"RBP", g(REG_RBP)}, {"RSP", g(REG_RSP)}},
      {{"R8 ", g(REG_R8)}, {"R9 ", g(REG_R9)}, {"R10", g(REG_R10)}, {"R11", g(REG_R11)}},
      {{"R12", g(REG_R12)}, {"R13", g(REG_R13)}, {"R14", g(REG_R14)}, {"R15", g(REG_R15)}},
  };
  for (const auto& row : rows) {
    addRow(row, 4);
    text.Add("\r\n");
  }
  const Named ip[] = {{"RIP", g(REG_RIP)}, {"CR2", g(REG_CR2)}};
  addRow(ip, 2);
  text.Add("  FLG=");
  text.Hex(g(REG_EFL), 8);
  text.Add("  ERR=");
  text.Hex(g(REG_ERR), 8);
  text.Add("\r\nCS =");
  uint64_t segments = g(REG_CSGSFS);
  text.Hex(segments & 0xFFFF, 4);
  text.Add("      FS =");
  text.Hex((segments >> 32) & 0xFFFF, 4);
  text.Add("      GS =");
  text.Hex((segments >> 16) & 0xFFFF, 4);
  text.Add("      SS =");
  text.Hex((segments >> 48) & 0xFFFF, 4);
#elif defined(__aarch64__)
  const auto& m = context->uc_mcontext;
  static const char* const kNames[] = {"X0 ", "X1 ", "X2 ", "X3 ", "X4 ", "X5 ", "X6 ", "X7 ",
                                       "X8 ", "X9 ", "X10", "X11", "X12", "X13", "X14", "X15",
                                       "X16", "X17", "X18", "X19", "X20", "X21", "X22", "X23",
                                       "X24", "X25", "X26", "X27", "X28", "FP ", "LR "};
  for (int i = 0; i < 31; i += 4) {
    Named row[4];
    size_t n = 0;
    for (int j = i; j < i + 4 && j < 31; ++j) row[n++] = {kNames[j], m.regs[j]};
    addRow(row, n);
    if (n < 4) {
      text.Add("  SP =");
      text.Hex(m.sp, 16);
    }
    text.Add("\r\n");
  }
  text.Add("PC =");
  text.Hex(m.pc, 16);
  text.Add("  PST=");
  text.Hex(m.pstate, 8);
  text.Add("  FAR=");
  text.Hex(m.fault_address, 16);
#else
  (void)context;
  (void)addRow;
#endif
}

void AddStackLine(SafeText& text, unsigned codeSegment, const StackFrame& frame,
                  const ProcessMaps& maps) {
  text.Hex(codeSegment, 4);
  text.Add(':');
  text.Hex(frame.pc, kWordDigits);
  // The first words of the frame (parameters travel in registers here, so
  // these are the frame's saved values).
  text.Add(" (");
  for (int i = 0; i < 4; ++i) {
    uintptr_t word = 0;
    maps.ReadWord(frame.sp + static_cast<uintptr_t>(i) * sizeof(uintptr_t), &word);
    if (i) text.Add(' ');
    text.Add("0x");
    text.Hex(word, kWordDigits);
  }
  text.Add(") ");
  const char* module = maps.ModuleName(frame.pc);
  text.Add(module ? module : "<UNKNOWN>");
  if (frame.hasSymbol) {
    text.Add(", ");
    AddSymbol(text, frame);
  } else if (uintptr_t base = maps.ModuleBase(frame.pc)) {
    // Without a symbol the address within the module still finds the spot
    // (addr2line -e module 0x...).
    text.Add(", 0x");
    text.Hex(frame.pc - base, 0);
  }
  if (frame.hasLine) {
    text.Add(", ");
    AddSource(text, frame);
  }
  text.Add("\r\n");
}

void AddTime(SafeText& text, int64_t utcSeconds, int64_t utcOffset) {
  int64_t local = utcSeconds + utcOffset;
  int64_t days = local / 86400;
  int64_t seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  text.Dec(year, 4);
  text.Add('-');
  text.Dec(month, 2);
  text.Add('-');
  text.Dec(day, 2);
  text.Add(' ');
  text.Dec(seconds / 3600, 2);
  text.Add(':');
  text.Dec(seconds / 60 % 60, 2);
  text.Add(':');
  text.Dec(seconds % 60, 2);
}

}  // namespace norvexc
