// Writes the tables and coefficients of the effect's single-precision power
// function, each value computed with 256-bit MPFR arithmetic and rounded once
// to the nearest double: those of its fast evaluation (engine/pow.h), and,
// with the argument "exact", the double-double ones of its exact path
// (engine/src/pow_exact.cpp), each value v as the pair hi = the nearest double
// to v, lo = the nearest double to v - hi.
//
//   c++ -O2 -std=c++20 engine/tools/generate_pow_tables.cpp -lmpfr -lgmp -o gen
//   ./gen > engine/include/engine/pow_tables.inc
//   ./gen exact > engine/src/pow_exact_tables.inc
//
// The mathematics (also in pow.h):
//
// log2 of a float x > 0: x = 2^e * m with m in [1, 2). The top 7 fraction bits
// of m pick i; c_i is 1 / (1 + (i + 1/2) / 128) rounded to a float (24
// significant bits), so that m * c_i (24 + 24 bits) is exact in double and
// z = m * c_i - 1 lies within about +-2^-8. Then log2 x = e + L_i + log2(1 + z), with
// L_i = -log2(c_i), and log2(1 + z) = z * (b1 + z * (b2 + ... + z * b5)) with
// b_k = (-1)^(k+1) / (k ln 2), the Taylor series of ln(1 + z) / ln 2 cut after
// z^5: the first term left out is below |z|^6 / (6 ln 2) < 2^-50.
//
// 2^t for a double t: t = n + j / 128 + g with integers n, j (0 <= j < 128) and
// |g| <= 2^-8; 2^t = 2^n * T_j * 2^g with T_j = 2^(j / 128), and
// 2^g - 1 = g * (d1 + g * (d2 + ... + g * d4)) with d_k = (ln 2)^k / k!, the
// Taylor series of e^(g ln 2) cut after g^4: the first term left out is below
// (2^-8 ln 2)^5 / 5! < 2^-49.
#include <mpfr.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr mpfr_prec_t kPrecision = 256;

double Nearest(const mpfr_t v) { return mpfr_get_d(v, MPFR_RNDN); }

void Print(const char* name, const double* values, int count, bool single = false) {
  std::printf("alignas(64) constexpr %s %s[%d] = {\n", single ? "float" : "double", name, count);
  for (int i = 0; i < count; ++i) {
    std::printf("    %a%s,%s", values[i], single ? "f" : "", i % 2 == 1 || i + 1 == count ? "\n" : "");
  }
  std::printf("};\n");
}

// hi and lo of v: hi the nearest double, lo the nearest double to v - hi.
void SplitPair(const mpfr_t v, double& hi, double& lo) {
  mpfr_t rest;
  mpfr_init2(rest, kPrecision);
  hi = Nearest(v);
  mpfr_sub_d(rest, v, hi, MPFR_RNDN);
  lo = Nearest(rest);
  mpfr_clear(rest);
}

void PrintPairs(const char* name, const double (*pairs)[2], int count) {
  std::printf("alignas(16) constexpr double %s[%d][2] = {\n", name, count);
  for (int i = 0; i < count; ++i) std::printf("    {%a, %a},\n", pairs[i][0], pairs[i][1]);
  std::printf("};\n");
}

// One value of kPrecision bits, cleared when it goes.
struct Value {
  mpfr_t v;
  Value() { mpfr_init2(v, kPrecision); }
  ~Value() { mpfr_clear(v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
};

// c_i = 1 / (1 + (i + 1/2) / 128), rounded to 24 bits (a float).
double Reciprocal(int i) {
  Value a;
  mpfr_set_ui(a.v, 256 + 2 * i + 1, MPFR_RNDN);
  mpfr_div_ui(a.v, a.v, 256, MPFR_RNDN);
  mpfr_ui_div(a.v, 1, a.v, MPFR_RNDN);
  return static_cast<double>(mpfr_get_flt(a.v, MPFR_RNDN));
}

// L_i = -log2(c_i), of the rounded c_i, into out.
void LogReciprocal(int i, mpfr_t out) {
  mpfr_set_d(out, Reciprocal(i), MPFR_RNDN);  // exact: 24 bits
  mpfr_log2(out, out, MPFR_RNDN);
  mpfr_neg(out, out, MPFR_RNDN);
}

// 2^(j / steps) into out.
void Exp2Step(int j, int steps, mpfr_t out) {
  mpfr_set_ui(out, static_cast<unsigned long>(j), MPFR_RNDN);
  mpfr_div_ui(out, out, static_cast<unsigned long>(steps), MPFR_RNDN);
  mpfr_ui_pow(out, 2, out, MPFR_RNDN);
}

// d_k = (ln 2)^k / k! for k = 1 to count, into d[k - 1].
void ExpCoefficients(double* d, int count) {
  Value ln2, term;
  mpfr_const_log2(ln2.v, MPFR_RNDN);
  mpfr_set_ui(term.v, 1, MPFR_RNDN);
  for (int k = 1; k <= count; ++k) {
    mpfr_mul(term.v, term.v, ln2.v, MPFR_RNDN);
    mpfr_div_ui(term.v, term.v, static_cast<unsigned long>(k), MPFR_RNDN);
    d[k - 1] = Nearest(term.v);
  }
}

// The fast evaluation's tables and coefficients, and those of the vector
// forms whose tables sit in registers.
void PrintFast() {
  Value a;
  double reciprocal[128], log_reciprocal[128], exp2_table[128];
  // L_i as two floats, the nearest to L_i and the nearest to the rest (48
  // significant bits); 2^(j / 16).
  double log_high[128], log_low[128], exp2_16[16];
  for (int i = 0; i < 128; ++i) {
    reciprocal[i] = Reciprocal(i);
    LogReciprocal(i, a.v);
    log_reciprocal[i] = Nearest(a.v);
    log_high[i] = mpfr_get_flt(a.v, MPFR_RNDN);
    mpfr_sub_d(a.v, a.v, log_high[i], MPFR_RNDN);
    log_low[i] = mpfr_get_flt(a.v, MPFR_RNDN);
    Exp2Step(i, 128, a.v);
    exp2_table[i] = Nearest(a.v);
    if (i < 16) {
      Exp2Step(i, 16, a.v);
      exp2_16[i] = Nearest(a.v);
    }
  }
  double log_poly[5], exp_poly[4], exp_poly_16[6];
  Value ln2;
  mpfr_const_log2(ln2.v, MPFR_RNDN);
  for (int k = 1; k <= 5; ++k) {  // b_k = (-1)^(k+1) / (k ln 2)
    mpfr_mul_ui(a.v, ln2.v, static_cast<unsigned long>(k), MPFR_RNDN);
    mpfr_ui_div(a.v, 1, a.v, MPFR_RNDN);
    if (k % 2 == 0) mpfr_neg(a.v, a.v, MPFR_RNDN);
    log_poly[k - 1] = Nearest(a.v);
  }
  ExpCoefficients(exp_poly, 4);
  ExpCoefficients(exp_poly_16, 6);

  std::printf("// Generated by engine/tools/generate_pow_tables.cpp: do not edit.\n");
  std::printf("// c_i = 1 / (1 + (i + 1/2) / 128) to 24 bits; L_i = -log2(c_i); T_j = 2^(j / 128);\n");
  std::printf("// b_k = (-1)^(k+1) / (k ln 2); d_k = (ln 2)^k / k!. Each the nearest double.\n");
  std::printf("// For tables held in registers: L_i as the nearest float and the nearest float to the\n");
  std::printf("// rest; 2^(j / 16); d_k for k = 1 to 6.\n");
  Print("kPowReciprocal", reciprocal, 128, true);
  Print("kPowLogReciprocal", log_reciprocal, 128);
  Print("kPowExp2", exp2_table, 128);
  Print("kPowLogPoly", log_poly, 5);
  Print("kPowExpPoly", exp_poly, 4);
  Print("kPowLogReciprocalHigh", log_high, 128, true);
  Print("kPowLogReciprocalLow", log_low, 128, true);
  Print("kPowExp2Sixteenths", exp2_16, 16);
  Print("kPowExpPolySixteenths", exp_poly_16, 6);
}

// The exact path's pairs: L_i and T_j whole (the fast tables' values are their
// hi parts), ln 2 and 1 / ln 2, and the series of ln(1 + z) and e^u.
void PrintExact() {
  Value a;
  double log_reciprocal[128][2], exp2_table[128][2], ln2[1][2], inverse_ln2[1][2];
  for (int i = 0; i < 128; ++i) {
    LogReciprocal(i, a.v);
    SplitPair(a.v, log_reciprocal[i][0], log_reciprocal[i][1]);
    Exp2Step(i, 128, a.v);
    SplitPair(a.v, exp2_table[i][0], exp2_table[i][1]);
  }
  mpfr_const_log2(a.v, MPFR_RNDN);
  SplitPair(a.v, ln2[0][0], ln2[0][1]);
  mpfr_ui_div(a.v, 1, a.v, MPFR_RNDN);
  SplitPair(a.v, inverse_ln2[0][0], inverse_ln2[0][1]);
  // (-1)^(k+1) / k for k = 1 to 14, and 1 / k! for k = 0 to 10.
  double log_series[15][2] = {}, exp_series[11][2] = {};
  for (int k = 1; k <= 14; ++k) {
    mpfr_set_si(a.v, k % 2 == 1 ? 1 : -1, MPFR_RNDN);
    mpfr_div_ui(a.v, a.v, static_cast<unsigned long>(k), MPFR_RNDN);
    SplitPair(a.v, log_series[k][0], log_series[k][1]);
  }
  mpfr_set_ui(a.v, 1, MPFR_RNDN);
  for (int k = 0; k <= 10; ++k) {
    if (k > 0) mpfr_div_ui(a.v, a.v, static_cast<unsigned long>(k), MPFR_RNDN);
    SplitPair(a.v, exp_series[k][0], exp_series[k][1]);
  }
  std::printf("// Generated by engine/tools/generate_pow_tables.cpp exact: do not edit.\n");
  std::printf("// Pairs {hi, lo}: L_i = -log2(c_i); T_j = 2^(j / 128); ln 2; 1 / ln 2;\n");
  std::printf("// (-1)^(k+1) / k at k (0 unused); 1 / k! at k.\n");
  PrintPairs("kPowExactLogReciprocal", log_reciprocal, 128);
  PrintPairs("kPowExactExp2", exp2_table, 128);
  PrintPairs("kPowExactLn2", ln2, 1);
  PrintPairs("kPowExactInverseLn2", inverse_ln2, 1);
  PrintPairs("kPowExactLogSeries", log_series, 15);
  PrintPairs("kPowExactExpSeries", exp_series, 11);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "exact") == 0) {
    PrintExact();
  } else {
    PrintFast();
  }
  return 0;
}
