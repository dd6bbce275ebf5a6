// Montgomery product of 4-limb numbers with the BMI2/ADX instructions: mulx
// leaves the flags alone, so the low and high halves of the partial products
// are summed in two independent carry chains (adox and adcx). Only on x86-64
// CPUs with both extensions; the portable product in field.h is the reference.
#include "ec/field.h"
#include "quarzel/cpu.h"

namespace quarzel::ec {

#if defined(__x86_64__)

// CIOS, fully unrolled: for each word b[i], t += a * b[i], then
// t += q * m with q = t[0] * minv, which clears t[0]. Six accumulator
// registers rotate instead of shifting t down a word. Returns the top word of
// the unreduced result (below 2m); r holds its low four limbs.
__attribute__((target("bmi2,adx"))) u64 mont_mul4_adx(u64 r[4], const u64 a[4], const u64 b[4],
                                                       const u64 m[4], u64 minv) {
  u64 t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0, t5 = 0, lo, hi;
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
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [t4] "+&r"(t4),
        [t5] "+&r"(t5), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a] "r"(a), [b] "r"(b), [m] "r"(m), [minv] "rm"(minv)
      : "rax", "rdx", "cc", "memory");
  // After four rounds the result sits in t4, t5, t0, t1 with t2 on top (t3 is 0).
  r[0] = t4;
  r[1] = t5;
  r[2] = t0;
  r[3] = t1;
  return t2;
}

bool cpu_has_adx() {
  return cpu_features().bmi2 && cpu_features().adx;
}

#else

u64 mont_mul4_adx(u64*, const u64*, const u64*, const u64*, u64) { return 0; }
bool cpu_has_adx() { return false; }

#endif

}  // namespace quarzel::ec
