// The stand-in setupapi.dll and hid.dll answer only what the simulated switch
// needs; every other export goes on to Wine's own DLL of the same name, which
// the stand-in loads from the system folder the first time it is needed.
// Wine's user32, gdi32 and others load setupapi.dll for display and device
// work of their own, and in a process with the stand-ins they get these
// exports: a stand-in that lacked them would break them.
//   SIM_FORWARD(name)  - defines the export SimForward_<name> (name it in the .def)
//   SimRealModule      - Wine's own DLL, loaded on first use
//   SimRealProc        - one of its exports
//
// The thunks are i386 or x86-64 assembly for GCC: the stand-ins exist only for
// the tests under Wine, which are built with MinGW alone.
#pragma once

#include <windows.h>

extern "C" {
// Looks up `name` in Wine's DLL, stores it in *slot and returns it; a missing
// export yields a routine that raises an exception rather than run wild.
FARPROC SimResolveForward(FARPROC *slot, const char *name);
}

// The DLL file name the stand-in stands for, e.g. L"setupapi.dll"; each
// stand-in defines it once.
extern const wchar_t SIM_REAL_DLL_NAME[];

HMODULE SimRealModule();
FARPROC SimRealProc(const char *name);

// A thunk that jumps to the real export, resolving it on the first call. The
// stack and argument registers are untouched, so any calling convention and
// argument count pass through.
#if defined(__x86_64__)
// x86-64: the four argument registers are kept across the resolver call.
#define SIM_FORWARD(name)                                                                              \
    __asm__(".data\n"                                                                             \
            ".balign 8\n"                                                                         \
            "simSlot_" #name ":\n"                                                                \
            "  .quad 0\n"                                                                         \
            ".section .rdata,\"dr\"\n"                                                            \
            "simName_" #name ":\n"                                                                \
            "  .asciz \"" #name "\"\n"                                                            \
            ".text\n"                                                                             \
            ".globl SimForward_" #name "\n"                                                       \
            "SimForward_" #name ":\n"                                                             \
            "  movq simSlot_" #name "(%rip), %rax\n"                                              \
            "  testq %rax, %rax\n"                                                                \
            "  jz 1f\n"                                                                           \
            "  jmp *%rax\n"                                                                       \
            "1:\n"                                                                                \
            "  pushq %rcx\n"                                                                      \
            "  pushq %rdx\n"                                                                      \
            "  pushq %r8\n"                                                                       \
            "  pushq %r9\n"                                                                       \
            "  subq $40, %rsp\n"                                                                  \
            "  leaq simSlot_" #name "(%rip), %rcx\n"                                              \
            "  leaq simName_" #name "(%rip), %rdx\n"                                              \
            "  call SimResolveForward\n"                                                          \
            "  addq $40, %rsp\n"                                                                  \
            "  popq %r9\n"                                                                        \
            "  popq %r8\n"                                                                        \
            "  popq %rdx\n"                                                                       \
            "  popq %rcx\n"                                                                       \
            "  jmp *%rax\n");
#else
#define SIM_FORWARD(name)                                                                              \
    __asm__(".data\n"                                                                              \
            ".balign 4\n"                                                                          \
            "_simSlot_" #name ":\n"                                                                \
            "  .long 0\n"                                                                          \
            ".section .rdata,\"dr\"\n"                                                             \
            "_simName_" #name ":\n"                                                                \
            "  .asciz \"" #name "\"\n"                                                             \
            ".text\n"                                                                              \
            ".globl _SimForward_" #name "\n"                                                       \
            "_SimForward_" #name ":\n"                                                             \
            "  movl _simSlot_" #name ", %eax\n"                                                    \
            "  testl %eax, %eax\n"                                                                 \
            "  jz 1f\n"                                                                            \
            "  jmp *%eax\n"                                                                        \
            "1:\n"                                                                                 \
            "  pushl $_simName_" #name "\n"                                                        \
            "  pushl $_simSlot_" #name "\n"                                                        \
            "  call _SimResolveForward\n"                                                          \
            "  addl $8, %esp\n"                                                                    \
            "  jmp *%eax\n");
#endif
