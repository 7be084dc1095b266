// Compiler attributes, each behind a guard so that a compiler without it
// builds the code unchecked.
#ifndef TQ_HOST_COMPILER_H
#define TQ_HOST_COMPILER_H

// printf-style format checking of argument `fmt` against the arguments from
// `args` on (0: a va_list). MinGW checks against its own C99 printf.
#if defined(__MINGW32__)
#include <stdio.h>
#define TQ_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__) || defined(__clang__)
#define TQ_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TQ_PRINTF(fmt, args)
#endif

#endif
