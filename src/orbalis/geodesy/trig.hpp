// Portable double-precision sine, cosine and two-argument arctangent for the geodesy ufuncs.
//
// Every function here is built from IEEE-754 +, -, *, / and comparisons only (no libm, no
// fused multiply-add, no assembly), so with -ffp-contract=off it returns the same bits on
// every machine, vectorised or not. The finite-argument paths are written as selects rather
// than branches so that the compiler's vectoriser can turn loops over them into SIMD code;
// the rare arguments (|x| >= 2^19 for sin/cos, infinities for atan2) go through a separate
// scalar routine that callers apply after the vector loop. Error bound: below 1 ulp for every
// finite argument (measured against mpmath in the test suite). The polynomial coefficients,
// the pieces of pi/2 and the bits of 2/pi come from _fit_trig.py next to this file.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orbalis::trig {

// sin x = x + x^3 * P(x^2) on |x| <= pi/4; coefficients of P (near-minimax, |error| 9e-18).
inline constexpr double kSinTail[7] = {-0.16666666666666666,    0.008333333333333331,
                                       -0.00019841269841265065, 2.7557319219339167e-06,
                                       -2.5052106232447578e-08, 1.6058531618986147e-10,
                                       -7.586697117706918e-13};
// cos x = 1 - x^2/2 + x^4 * Q(x^2) on |x| <= pi/4; coefficients of Q (|error| 2e-18).
inline constexpr double kCosTail[7] = {
    0.041666666666666664,  -0.0013888888888888887,  2.4801587301584645e-05, -2.7557319221402824e-07,
    2.087675579108042e-09, -1.1470460887609959e-11, 4.7458719020432915e-14};
// atan u = u + u^3 * R(u^2) on |u| <= 7/16; coefficients of R (|error| 2e-17).
inline constexpr double kAtanTail[12] = {
    -0.3333333333333333,  0.1999999999999941,  -0.14285714285566806,  0.11111111096645038,
    -0.09090908355602592, 0.07692285554889286, -0.06666241923359964,  0.05876946456755061,
    -0.05216679739313656, 0.04492259293193656, -0.033128134256069586, 0.014773184616983806};

// pi/2 = kPio2Part1 + kPio2Part2 + kPio2Part3: the first two hold 33 significant bits each,
// so k * part is exact for |k| < 2^20 (Cody-Waite reduction).
inline constexpr double kPio2Part1 = 1.5707963267341256;
inline constexpr double kPio2Part2 = 6.077100506303966e-11;
inline constexpr double kPio2Part3 = 2.0222662487959506e-21;
// pi/2 and pi as double-double (hi + lo), for the atan2 quadrant constants.
inline constexpr double kPio2Hi = 1.5707963267948966, kPio2Lo = 6.123233995736766e-17;
inline constexpr double kPiHi = 3.141592653589793, kPiLo = 1.2246467991473532e-16;
inline constexpr double kTwoOverPi = 0.6366197723675814;  // 2/pi rounded
// Beyond this |x| the Cody-Waite reduction is not exact enough; Payne-Hanek takes over.
inline constexpr double kFastReductionLimit = 524288.0;  // 2^19 radians
// Adding and subtracting 1.5 * 2^52 rounds a double of magnitude < 2^51 to an integer.
inline constexpr double kRoundMagic = 6755399441055744.0;
// Veltkamp's constant 2^27 + 1 splits a double into two 26-bit halves.
inline constexpr double kSplitter = 134217729.0;

// The binary expansion of 2/pi, 64 bits a word, most significant first (1280 bits).
inline constexpr std::uint64_t kTwoOverPiBits[20] = {
    0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041, 0xfe5163abdebbc561,
    0xb7246e3a424dd2e0, 0x06492eea09d1921c, 0xfe1deb1cb129a73e, 0xe88235f52ebb4484,
    0xe99c7026b45f7e41, 0x3991d639835339f4, 0x9c845f8bbdf9283b, 0x1ff897ffde05980f,
    0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d, 0x7527bac7ebe5f17b,
    0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08, 0x56033046fc7b6bab, 0xf0cfbc209af4361d};

// c ? a : b through the bit patterns, which the vectoriser turns into masks.
inline double bit_select(bool c, double a, double b) noexcept {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(c);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) |
                                 (std::bit_cast<std::uint64_t>(b) & ~mask));
}

// Horner evaluation of c[0] + c[1] z + ... + c[N-1] z^(N-1).
template <int N>
inline double horner(const double (&c)[N], double z) noexcept {
    double p = c[N - 1];
    for (int i = N - 2; i >= 0; --i) p = p * z + c[i];
    return p;
}

// Exact product: hi + lo == a * b (Dekker; |a|, |b| well below 2^996).
inline void two_product(double a, double b, double& hi, double& lo) noexcept {
    const double ca = kSplitter * a, cb = kSplitter * b;
    const double ah = ca - (ca - a), al = a - ah;
    const double bh = cb - (cb - b), bl = b - bh;
    hi = a * b;
    lo = ((ah * bh - hi) + ah * bl + al * bh) + al * bl;
}

// Sine and cosine of the reduced argument h + l (|h| <= pi/4 + tiny, |l| <= ulp(h)).
inline void sincos_reduced(double h, double l, double& s, double& c) noexcept {
    double z, z_lo;
    two_product(h, h, z, z_lo);
    // l enters to first order: sin(h + l) = sin h + l cos h, cos(h + l) = cos h - l sin h.
    s = h + (h * z * horner(kSinTail, z) + l * (1.0 - 0.5 * z));
    // 1 - z/2 is carried with its rounding error so the cosine stays within 1 ulp near pi/4.
    const double half = 0.5 * z;
    const double w = 1.0 - half;
    const double w_err = ((1.0 - w) - half) - 0.5 * z_lo;
    c = w + (w_err + (z * z * horner(kCosTail, z) - h * l));
}

// Maps (sin r, cos r) of the reduced argument to sin x, cos x for x = r + q pi/2 (q in 0..3,
// held as a double so that the selects vectorise on every SIMD width).
inline void apply_quadrant(double q, double sr, double cr, double& s, double& c) noexcept {
    const bool odd = (q == 1.0) | (q == 3.0);
    const double s_abs = odd ? cr : sr, c_abs = odd ? sr : cr;
    s = (q >= 2.0) ? -s_abs : s_abs;
    c = ((q == 1.0) | (q == 2.0)) ? -c_abs : c_abs;
}

// sin x and cos x for |x| < kFastReductionLimit (select-only: vectorisable). Other arguments
// give unspecified values; callers replace them with sincos_large.
inline void sincos_fast(double x, double& s, double& c) noexcept {
    const double k = (x * kTwoOverPi + kRoundMagic) - kRoundMagic;  // nearest integer
    // q = k mod 4 without integer lanes: (k - 1.5)/4 never lies halfway between integers.
    const double m = ((k - 1.5) * 0.25 + kRoundMagic) - kRoundMagic;
    const double q = k - 4.0 * m;
    // Cody-Waite: x - k p1 is exact, x - k p1 - k p2 is carried as a double-double.
    const double r = x - k * kPio2Part1;
    const double w = k * kPio2Part2;
    const double y = r - w;
    const double yv = r - y;
    const double y_err = (r - (y + yv)) + (yv - w);  // two-sum error of r - w
    const double lo0 = y_err - k * kPio2Part3;
    const double h = y + lo0;
    const double l = lo0 - (h - y);
    double sr, cr;
    sincos_reduced(h, l, sr, cr);
    apply_quadrant(q, sr, cr, s, c);
    s = x == 0.0 ? x : s;  // the double-double sum above turns -0 into +0
}

// 64 bits of 2/pi starting `bit` places after the binary point (bit 0 is the first digit);
// positions before the point are zero.
inline std::uint64_t two_over_pi_bits(int bit) noexcept {
    auto word = [](int i) -> std::uint64_t { return (i >= 0 && i < 20) ? kTwoOverPiBits[i] : 0; };
    const int w = bit >= 0 ? bit / 64 : -((-bit + 63) / 64);
    const int shift = bit - 64 * w;
    if (shift == 0) return word(w);
    return (word(w) << shift) | (word(w + 1) >> (64 - shift));
}

// sin x and cos x for any double (Payne-Hanek reduction for large |x|, NaN for NaN and
// infinities). Scalar: callers use it for the lanes sincos_fast cannot take.
inline void sincos_large(double x, double& s, double& c) noexcept {
    if (!(std::fabs(x) < kFastReductionLimit)) {
        if (!(std::fabs(x) <= 1.7976931348623157e308)) {  // NaN or infinity
            s = c = x - x;
            return;
        }
    } else {
        sincos_fast(x, s, c);
        return;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t mant = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int e = biased - 1075;  // |x| = mant * 2^e, e >= -33 here
    // |x| * 2/pi = mant * F * 2^-190 where F holds the 192 bits of 2/pi from bit e - 2 on;
    // earlier bits only add multiples of 4 and leave the quadrant and fraction unchanged.
    const int first = e - 2;
    const std::uint64_t f2 = two_over_pi_bits(first), f1 = two_over_pi_bits(first + 64),
                        f0 = two_over_pi_bits(first + 128);
    using u128 = unsigned __int128;
    const u128 p0 = static_cast<u128>(mant) * f0;
    const u128 p1 = static_cast<u128>(mant) * f1;
    const u128 p2 = static_cast<u128>(mant) * f2;
    const std::uint64_t w0 = static_cast<std::uint64_t>(p0);
    const u128 carry1 = (p0 >> 64) + static_cast<std::uint64_t>(p1);
    const std::uint64_t w1 = static_cast<std::uint64_t>(carry1);
    const u128 carry2 = (carry1 >> 64) + (p1 >> 64) + static_cast<std::uint64_t>(p2);
    const std::uint64_t w2 = static_cast<std::uint64_t>(carry2);
    // Bits 190 and 191 of the product are the quadrant; bits 189 down to 62 the fraction.
    int quadrant = static_cast<int>(w2 >> 62);
    const std::uint64_t top = (w2 << 2) | (w1 >> 62);
    const std::uint64_t next = (w1 << 2) | (w0 >> 62);
    double f_hi = static_cast<double>(top >> 11) * 0x1p-53;  // exact: 53 bits
    const double f_lo = static_cast<double>(((top & 0x7ff) << 53) | (next >> 11)) * 0x1p-117;
    if (f_hi >= 0.5) {  // reduce to [-1/2, 1/2) turns: the next quadrant
        f_hi -= 1.0;
        quadrant += 1;
    }
    const double f = f_hi + f_lo;
    const double f_err = f_lo - (f - f_hi);
    // r = (f + f_err) * pi/2 as a double-double.
    double h, l;
    two_product(f, kPio2Hi, h, l);
    l += f * kPio2Lo + f_err * kPio2Hi;
    const double hr = h + l;
    double lr = l - (hr - h);
    double hq = hr;
    if (negative) {
        hq = -hq;
        lr = -lr;
        quadrant = -quadrant;
    }
    double sr, cr;
    sincos_reduced(hq, lr, sr, cr);
    apply_quadrant(static_cast<double>(quadrant & 3), sr, cr, s, c);
}

inline bool needs_large_sincos(double x) noexcept { return !(std::fabs(x) < kFastReductionLimit); }

// atan2 = K + sign * atan(u) with the base angle b (0, atan(1/2) or pi/4) folded into the
// constant K = hi + lo: b (|y| <= |x|, x >= 0), pi - b (x < 0), pi/2 - b (|y| > |x|, x >= 0)
// or pi/2 + b (|y| > |x|, x < 0); sign is -1 for the two subtracted forms.
struct AtanConstant {
    double hi, lo;
};
inline constexpr AtanConstant kAtanHalf[4] = {{0.4636476090008061, 2.2698777452961687e-17},
                                              {2.677945044588987, 1.5527705369303147e-16},
                                              {1.1071487177940904, 9.40447137356638e-17},
                                              {2.0344439357957027, 2.841996617907152e-17}};
inline constexpr AtanConstant kAtanQuarter[4] = {{0.7853981633974483, 3.061616997868383e-17},
                                                 {2.356194490192345, 9.184850993605148e-17},
                                                 {0.7853981633974483, 3.061616997868383e-17},
                                                 {2.356194490192345, 9.184850993605148e-17}};
inline constexpr AtanConstant kAtanZero[4] = {
    {0.0, 0.0}, {kPiHi, kPiLo}, {kPio2Hi, kPio2Lo}, {kPio2Hi, kPio2Lo}};

// atan2(y, x) for finite y and x (select-only: vectorisable); NaN in gives NaN out.
// Infinite arguments give unspecified values; callers replace them with atan2_special.
inline double atan2_finite(double y, double x) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    const bool swapped = ay > ax;
    double num = swapped ? ax : ay, den = swapped ? ay : ax;
    // Scale by a power of two so that the exact-product split below cannot overflow and the
    // remainder cannot underflow; t = num/den does not change.
    const double scale = den > 0x1p990 ? 0x1p-200 : (den < 0x1p-900 ? 0x1p200 : 1.0);
    num *= scale;
    den *= scale;
    den = den == 0.0 ? 1.0 : den;  // atan2(+-0, +-0): t = 0, the quadrant gives the angle
    const double t = num / den;
    // t_err = (num - t den)/den: the rounding error of the quotient, recovered exactly.
    double p_hi, p_lo;
    two_product(t, den, p_hi, p_lo);
    const double t_err = ((num - p_hi) - p_lo) / den;
    // Reduce t in [0, 1] to |u| <= 7/16 around the base 0, 1/2 (atan 1/2) or 1 (pi/4).
    const bool mid = t >= 0.4375, high = t >= 0.6875;
    const double u_num = high ? t - 1.0 : (mid ? 2.0 * t - 1.0 : t);  // exact (Sterbenz)
    const double u_den = high ? t + 1.0 : (mid ? 2.0 + t : 1.0);
    const double u = u_num / u_den;
    // The quotient's rounding error moves atan(u) by t_err du/dt / (1 + u^2), du/dt being
    // 2/(t + 1)^2 or 5/(2 + t)^2 (or 1): a tiny term, so one division suffices for it.
    const double du_num = high ? 2.0 : (mid ? 5.0 : 1.0);
    const double z = u * u;
    const double correction = (t_err * du_num) / ((u_den * u_den) * (1.0 + z));
    const double tail = u * z * horner(kAtanTail, z) + correction;
    // The constant by bitwise selects: no table lookup and no many-way branch, so the lanes
    // stay in vector registers.
    const bool neg_x = std::copysign(1.0, x) < 0.0;  // signbit, in a form that vectorises
    const int idx = (swapped ? 2 : 0) + (neg_x ? 1 : 0);
    double k_hi = 0.0, k_lo = 0.0;
    for (int j = 0; j < 4; ++j) {
        const bool here = idx == j;
        k_hi = bit_select(
            here,
            bit_select(high, kAtanQuarter[j].hi, bit_select(mid, kAtanHalf[j].hi, kAtanZero[j].hi)),
            k_hi);
        k_lo = bit_select(
            here,
            bit_select(high, kAtanQuarter[j].lo, bit_select(mid, kAtanHalf[j].lo, kAtanZero[j].lo)),
            k_lo);
    }
    const bool subtract = swapped != neg_x;
    const double atan_u = u + tail;
    const double mag = subtract ? k_hi + (k_lo - atan_u) : k_hi + (k_lo + atan_u);
    return std::copysign(mag, y);
}

inline bool needs_atan2_special(double y, double x) noexcept {
    return std::isinf(x) | std::isinf(y);
}

// atan2 where x or y is infinite (the C99 Annex F values).
inline double atan2_special(double y, double x) noexcept {
    double mag;
    if (std::isnan(x) || std::isnan(y)) return x + y;
    if (std::isinf(y)) {
        mag = std::isinf(x) ? (std::signbit(x) ? 3.0 * (kPiHi / 4.0) : kPiHi / 4.0) : kPio2Hi;
    } else {  // x infinite, y finite
        mag = std::signbit(x) ? kPiHi : 0.0;
    }
    return std::signbit(y) ? -mag : mag;
}

inline double atan2(double y, double x) noexcept {
    return needs_atan2_special(y, x) ? atan2_special(y, x) : atan2_finite(y, x);
}

inline void sincos(double x, double& s, double& c) noexcept {
    if (needs_large_sincos(x)) {
        sincos_large(x, s, c);
    } else {
        sincos_fast(x, s, c);
    }
}

}  // namespace orbalis::trig
