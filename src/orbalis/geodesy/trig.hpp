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

// Estrin's evaluation of the same polynomial: pairs c[2k] + c[2k+1] z combined by z^2, z^4,
// ..., a dependency chain of log2(N) steps instead of N (the vector units otherwise wait on
// each product in turn).
template <int N>
inline double estrin(const double (&c)[N], double z) noexcept {
    static_assert(N == 12, "written out for the 12 coefficients of the arctangent");
    const double z2 = z * z, z4 = z2 * z2, z8 = z4 * z4;
    const double p01 = c[0] + c[1] * z, p23 = c[2] + c[3] * z, p45 = c[4] + c[5] * z;
    const double p67 = c[6] + c[7] * z, p89 = c[8] + c[9] * z, pab = c[10] + c[11] * z;
    const double p0_3 = p01 + p23 * z2, p4_7 = p45 + p67 * z2, p8_b = p89 + pab * z2;
    return (p0_3 + p4_7 * z4) + p8_b * z8;
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

// One component (hi or lo) of K for the octant (swapped, neg_x) and the base (mid, high), by
// bitwise selects on compile-time constants: no table lookup and no many-way branch, so the
// lanes stay in vector registers.
template <double AtanConstant::* Part>
inline double atan_constant(bool swapped, bool neg_x, bool mid, bool high) noexcept {
    double k[4];
    for (int j = 0; j < 4; ++j) {
        k[j] = high ? kAtanQuarter[j].*Part : (mid ? kAtanHalf[j].*Part : kAtanZero[j].*Part);
    }
    return swapped ? (neg_x ? k[3] : k[2]) : (neg_x ? k[1] : k[0]);
}

// Range of max(|y|, |x|) that atan2_finite takes: the exact-product split below cannot overflow
// and the division's remainder cannot underflow inside it.
inline constexpr double kAtan2Max = 0x1p990, kAtan2Min = 0x1p-900;

// atan2(y, x) for kAtan2Min <= max(|y|, |x|) <= kAtan2Max (select-only: vectorisable). Other
// arguments (zeros, tiny or huge pairs, infinities, NaN) give unspecified values; callers
// replace them with atan2_special.
inline double atan2_finite(double y, double x) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    const bool swapped = ay > ax;
    const double num = swapped ? ax : ay, den = swapped ? ay : ax;
    // t = num/den in [0, 1] is reduced to |u| <= 7/16 around the base 0, 1/2 (atan 1/2) or
    // 1 (pi/4) without forming t: u = num/den, (2 num - den)/(2 den + num) or
    // (num - den)/(num + den). The numerators are exact (Sterbenz: num >= den/4 in the two
    // latter ranges) and the denominator's rounding error d_err is recovered by a two-sum.
    const bool mid = num >= 0.4375 * den, high = num >= 0.6875 * den;
    const double n_a = mid ? num + num : num, n_b = mid ? den : 0.0;
    const double u_num = high ? num - den : n_a - n_b;
    const double d_a = (mid & !high) ? den + den : den, d_b = mid ? num : 0.0;
    const double u_den = d_a + d_b;
    const double d_v = u_den - d_a;
    const double d_err = (d_a - (u_den - d_v)) + (d_b - d_v);  // u_den + d_err == d_a + d_b
    // u and 1/u_den are independent divisions, so they overlap rather than queue.
    const double u = u_num / u_den, inv_den = 1.0 / u_den;
    // The exact quotient is u + r/u_den with r = u_num - u (u_den + d_err): the exact
    // remainder of the rounded division less a tiny product. It moves atan(u) by
    // r / (u_den (1 + u^2)) to first order. That term is below half an ulp of u, so
    // 1/(1 + z) by its series to z^3 (relative error z^4 < 0.0014) is ample.
    double p_hi, p_lo;
    two_product(u, u_den, p_hi, p_lo);
    const double r = ((u_num - p_hi) - p_lo) - u * d_err;
    const double z = u * u;
    const double inv_one_plus_z = 1.0 - z * (1.0 - z * (1.0 - z));
    const double correction = (r * inv_den) * inv_one_plus_z;
    const double atan_u = u + (u * z * estrin(kAtanTail, z) + correction);
    const bool neg_x = std::copysign(1.0, x) < 0.0;  // signbit, in a form that vectorises
    const double k_hi = atan_constant<&AtanConstant::hi>(swapped, neg_x, mid, high);
    const double k_lo = atan_constant<&AtanConstant::lo>(swapped, neg_x, mid, high);
    const double signed_atan_u = swapped != neg_x ? -atan_u : atan_u;
    return std::copysign(k_hi + (k_lo + signed_atan_u), y);
}

// Whether atan2_finite cannot take (y, x): an argument beyond kAtan2Max, or one that is
// neither zero nor at least kAtan2Min (its products in the remainder would underflow), or
// both zero; true for NaN.
inline bool needs_atan2_special(double y, double x) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    return !((ax <= kAtan2Max) & (ay <= kAtan2Max) & ((ax >= kAtan2Min) | (ay >= kAtan2Min)) &
             ((ax >= kAtan2Min) | (ax == 0.0)) & ((ay >= kAtan2Min) | (ay == 0.0)));
}

// atan2 where atan2_finite cannot go: the C99 Annex F values for zeros, infinities and NaN;
// other pairs are scaled by a power of two (the quotient does not change) into atan2_finite's
// range, unless their quotient is below 2^-1000, where atan(t) = t to the last bit.
inline double atan2_special(double y, double x) noexcept {
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (std::isinf(ax) || std::isinf(ay) || (ax == 0.0 && ay == 0.0)) {
        double mag;
        if (std::isinf(ay)) {
            mag = std::isinf(ax) ? (std::signbit(x) ? 3.0 * (kPiHi / 4.0) : kPiHi / 4.0) : kPio2Hi;
        } else {  // x infinite and y finite, or both zero
            mag = std::signbit(x) ? kPiHi : 0.0;
        }
        return std::signbit(y) ? -mag : mag;
    }
    const double hi = ax > ay ? ax : ay, lo = ax > ay ? ay : ax;
    const double t = lo / hi;  // correctly rounded, also where it is subnormal or zero
    if (t < 0x1p-1000) {
        // atan2 is t, pi/2 - t, pi - t or pi/2 + t with t far below an ulp of pi/2.
        double mag = t;
        if (ay > ax) {
            mag = kPio2Hi;
        } else if (std::signbit(x)) {
            mag = kPiHi;
        }
        return std::signbit(y) ? -mag : mag;
    }
    // Steps of 2^-+200 bring hi into [2^300, 2^700] and so lo (>= hi 2^-1000) above 2^-700,
    // inside [kAtan2Min, kAtan2Max]; every step is exact, as no result is subnormal.
    double ys = y, xs = x, m = hi;
    while (m > 0x1p700) {
        ys *= 0x1p-200;
        xs *= 0x1p-200;
        m *= 0x1p-200;
    }
    while (m < 0x1p300) {
        ys *= 0x1p200;
        xs *= 0x1p200;
        m *= 0x1p200;
    }
    return atan2_finite(ys, xs);
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
