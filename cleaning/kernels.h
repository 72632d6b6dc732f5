// Loops compiled for three instruction sets from one body: QUEN_KERNEL(name, (parameters),
// (arguments)) defines name(parameters), which runs name_body(arguments) as compiled for AVX-512,
// for AVX2 or for the base instruction set, as the vector maths functions run (vmath::kernels). The same
// operations run in the same order whichever runs (no product is fused with a sum), so all give
// the same bits; the wider ones only do more samples at a time.
#pragma once

#include "vmath.h"

#define QUEN_KERNEL(name, params, args)                                                        \
    void name##_base params { name##_body args; }                                              \
    [[gnu::target("avx2")]] void name##_avx2 params { name##_body args; }                      \
    [[gnu::target("avx512f")]] void name##_avx512 params { name##_body args; }                 \
    void name params {                                                                         \
        static const auto chosen = quen::vmath::kernels() == quen::vmath::Kernels::Avx512 ? name##_avx512 \
                                   : quen::vmath::kernels() == quen::vmath::Kernels::Avx2 ? name##_avx2   \
                                                                                          : name##_base;  \
        chosen args;                                                                           \
    }
