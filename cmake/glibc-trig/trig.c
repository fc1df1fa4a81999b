/* sinf, cosf and sincosf for libsoxr on Windows, computed as glibc computes them.

   libsoxr's single-precision FFT (PFFFT) builds its twiddle factors with sinf and cosf. The
   Linux build links Debian's libsoxr, which takes them from glibc; mingw-w64's versions (x87
   based) differ from glibc's in the last bit for about one argument in twenty, which changes
   the resampled audio by one step in a few hundred samples per million. Built from glibc's own
   source (fetched by cmake/build-soxr-windows.sh) and linked into libsoxr in place of
   mingw-w64's, they give the Linux build's results bit for bit.

   glibc (x86_64) chooses at run time between two builds of the same code: one compiled for
   FMA and AVX2, where the compiler fuses multiplications and additions, and one for plain
   SSE2. The fused one may round differently, so the same choice is made here by the same
   CPU features. */

#include <stdint.h>

float trackhaul_glibc_sinf_sse2(float);
float trackhaul_glibc_sinf_fma(float);
float trackhaul_glibc_cosf_sse2(float);
float trackhaul_glibc_cosf_fma(float);
void trackhaul_glibc_sincosf_sse2(float, float*, float*);
void trackhaul_glibc_sincosf_fma(float, float*, float*);

static int UseFma(void) {
    static int use = -1;
    if (use < 0) {
        __builtin_cpu_init();
        use = __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx2");
    }
    return use;
}

float trackhaul_glibc_sinf(float x) {
    return UseFma() ? trackhaul_glibc_sinf_fma(x) : trackhaul_glibc_sinf_sse2(x);
}

float trackhaul_glibc_cosf(float x) {
    return UseFma() ? trackhaul_glibc_cosf_fma(x) : trackhaul_glibc_cosf_sse2(x);
}

void trackhaul_glibc_sincosf(float x, float* sinp, float* cosp) {
    if (UseFma())
        trackhaul_glibc_sincosf_fma(x, sinp, cosp);
    else
        trackhaul_glibc_sincosf_sse2(x, sinp, cosp);
}
