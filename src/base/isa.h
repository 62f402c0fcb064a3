// Code built once per instruction set.
//
// The module runs on any x86-64 CPU, but a few routines (the JSON parser and
// the byte scans) are several times faster with AVX2. Their sources are
// compiled once for each instruction set (ZR_ISA names it: x86_64_v3 or
// portable), and each copy lives in a namespace of that name, so the copies
// never meet at link time. Everything else is compiled once, for every CPU,
// and reaches these routines through entry points of the same names that
// pick the copy for the CPU in hand (src/isa/).
//
// A header wraps the declarations of such routines in ZR_ISA_BEGIN and
// ZR_ISA_END, and their sources wrap the definitions the same way: compiled
// as one copy, the names land in that copy's inline namespace; compiled for
// the rest of the code, they are the dispatching entry points.
#pragma once

#if defined(ZR_ISA)
#define ZR_ISA_BEGIN inline namespace ZR_ISA {
#define ZR_ISA_END }
#else
#define ZR_ISA_BEGIN
#define ZR_ISA_END
#endif
