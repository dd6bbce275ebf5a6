// Montgomery products of 4-limb numbers with the BMI2/ADX instructions: mulx
// leaves the flags alone, so the low and high halves of the partial products
// are summed in two independent carry chains (adox and adcx). The general
// product, and the P-256 product and square using the prime's form. Only on
// x86-64 CPUs with both extensions; the portable code in field.h and
// field_p256.h is the reference.
#include "ec/field.h"
#include "ec/field_p256_adx.h"
#include "quarzel/cpu.h"

namespace quarzel::ec {

#if defined(__x86_64__)

// CIOS, fully unrolled: for each word b[i], t += a * b[i], then
// t += q * m with q = t[0] * minv, which clears t[0]. Six accumulator
// registers rotate instead of shifting t down a word. The result (below 2m)
// less m is kept by cmov unless the subtraction borrows.
__attribute__((target("bmi2,adx"))) void mont_mul4_adx(u64 r[4], const u64 a[4], const u64 b[4],
                                                       const u64 m[4], u64 minv) {
  u64 t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0, t5 = 0, lo, hi, top;
  asm("# mont_mul4_adx\n\t"
      "# word 0 of b: t += a * b[0]\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq 0(%[b]), %%rdx\n\t"
      "mulxq 0(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq 8(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq 16(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 24(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "adoxq %%rax, %[t4]\n\t"
      "adcxq %%rax, %[t5]\n\t"
      "adoxq %%rax, %[t5]\n\t"
      "# reduce: t += q * m with q = t0 * minv; t0 becomes 0\n\t"
      "movq %[t0], %%rdx\n\t"
      "imulq %[minv], %%rdx\n\t"
      "xorl %%eax, %%eax\n\t"
      "mulxq 0(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq 8(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq 16(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 24(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "adoxq %%rax, %[t4]\n\t"
      "adcxq %%rax, %[t5]\n\t"
      "adoxq %%rax, %[t5]\n\t"
      "# word 1 of b: t += a * b[1]\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq 8(%[b]), %%rdx\n\t"
      "mulxq 0(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq 8(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 16(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 24(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "adoxq %%rax, %[t5]\n\t"
      "adcxq %%rax, %[t0]\n\t"
      "adoxq %%rax, %[t0]\n\t"
      "# reduce: t += q * m with q = t0 * minv; t0 becomes 0\n\t"
      "movq %[t1], %%rdx\n\t"
      "imulq %[minv], %%rdx\n\t"
      "xorl %%eax, %%eax\n\t"
      "mulxq 0(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq 8(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 16(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 24(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "adoxq %%rax, %[t5]\n\t"
      "adcxq %%rax, %[t0]\n\t"
      "adoxq %%rax, %[t0]\n\t"
      "# word 2 of b: t += a * b[2]\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq 16(%[b]), %%rdx\n\t"
      "mulxq 0(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 8(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 16(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "mulxq 24(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t5]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "adoxq %%rax, %[t0]\n\t"
      "adcxq %%rax, %[t1]\n\t"
      "adoxq %%rax, %[t1]\n\t"
      "# reduce: t += q * m with q = t0 * minv; t0 becomes 0\n\t"
      "movq %[t2], %%rdx\n\t"
      "imulq %[minv], %%rdx\n\t"
      "xorl %%eax, %%eax\n\t"
      "mulxq 0(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq 8(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 16(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "mulxq 24(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t5]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "adoxq %%rax, %[t0]\n\t"
      "adcxq %%rax, %[t1]\n\t"
      "adoxq %%rax, %[t1]\n\t"
      "# word 3 of b: t += a * b[3]\n\t"
      "xorl %%eax, %%eax\n\t"
      "movq 24(%[b]), %%rdx\n\t"
      "mulxq 0(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 8(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "mulxq 16(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t5]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq 24(%[a]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "adoxq %%rax, %[t1]\n\t"
      "adcxq %%rax, %[t2]\n\t"
      "adoxq %%rax, %[t2]\n\t"
      "# reduce: t += q * m with q = t0 * minv; t0 becomes 0\n\t"
      "movq %[t3], %%rdx\n\t"
      "imulq %[minv], %%rdx\n\t"
      "xorl %%eax, %%eax\n\t"
      "mulxq 0(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq 8(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t5]\n\t"
      "mulxq 16(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t5]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq 24(%[m]), %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "adoxq %%rax, %[t1]\n\t"
      "adcxq %%rax, %[t2]\n\t"
      "adoxq %%rax, %[t2]\n\t"
      "# the result t4 t5 t0 t1 (t2 on top, below 2m) less m, unless that borrows\n\t"
      "movq %[t4], %[lo]\n\t"
      "movq %[t5], %[hi]\n\t"
      "movq %[t0], %[t3]\n\t"
      "movq %[t1], %%rax\n\t"
      "subq 0(%[m]), %[lo]\n\t"
      "sbbq 8(%[m]), %[hi]\n\t"
      "sbbq 16(%[m]), %[t3]\n\t"
      "sbbq 24(%[m]), %%rax\n\t"
      "sbbq $0, %[t2]\n\t"
      "cmovcq %[t4], %[lo]\n\t"
      "cmovcq %[t5], %[hi]\n\t"
      "cmovcq %[t0], %[t3]\n\t"
      "cmovcq %[t1], %%rax\n\t"
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [t4] "+&r"(t4),
        [t5] "+&r"(t5), [lo] "=&r"(lo), [hi] "=&r"(hi), [top] "=&a"(top)
      : [a] "r"(a), [b] "r"(b), [m] "r"(m), [minv] "rm"(minv)
      : "rdx", "cc", "memory");
  r[0] = lo;
  r[1] = hi;
  r[2] = t3;
  r[3] = top;
}

// The P-256 product and square of Mont<4> (field_p256_adx.h).
__attribute__((target("bmi2,adx"))) void p256_mul_adx(u64 r[4], const u64 a[4], const u64 b[4]) {
  p256x_mul(r, a, b);
}
__attribute__((target("bmi2,adx"))) void p256_sqr_adx(u64 r[4], const u64 a[4]) { p256x_sqr(r, a); }

bool cpu_has_adx() {
  return cpu_features().bmi2 && cpu_features().adx;
}

#else

void mont_mul4_adx(u64*, const u64*, const u64*, const u64*, u64) {}
void p256_mul_adx(u64*, const u64*, const u64*) {}
void p256_sqr_adx(u64*, const u64*) {}
bool cpu_has_adx() { return false; }

#endif

}  // namespace quarzel::ec
