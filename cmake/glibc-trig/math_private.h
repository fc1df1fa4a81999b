/* Stands in for glibc's internal header of this name when glibc's single-precision sine and
   cosine are built outside glibc (see cmake/build-soxr-windows.sh). */
#ifndef TRACKHAUL_GLIBC_TRIG_MATH_PRIVATE_H
#define TRACKHAUL_GLIBC_TRIG_MATH_PRIVATE_H

#define attribute_hidden
#ifndef __glibc_likely
#define __glibc_likely(cond) __builtin_expect((cond), 1)
#define __glibc_unlikely(cond) __builtin_expect((cond), 0)
#endif

/* glibc's internal names, kept apart from anything else linked into the program. */
#define __sincosf_table trackhaul_glibc_sincosf_table
#define __inv_pio4 trackhaul_glibc_inv_pio4
#define __math_oflowf trackhaul_glibc_math_oflowf
#define __math_uflowf trackhaul_glibc_math_uflowf
#define __math_may_uflowf trackhaul_glibc_math_may_uflowf
#define __math_divzerof trackhaul_glibc_math_divzerof
#define __math_invalidf trackhaul_glibc_math_invalidf

#endif
