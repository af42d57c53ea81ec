// Block kernels of the geodesy ufuncs: geodetic <-> ECEF, local ENU frames, azimuth-elevation-
// range and the line of sight to the ellipsoid, on blocks of kBlock points.
//
// Each kernel works on structure-of-arrays blocks and is written as a sequence of loops over
// the block's lanes that hold only IEEE +, -, *, /, sqrt and selects, so that the compiler can
// vectorise them; the rare lanes (huge angles, infinities, points near the centre) are redone
// by scalar code after the vector loops. Every lane's result depends on that lane's inputs
// alone, never on its neighbours, so the bits do not change with the block a point falls in,
// the SIMD width, the chunking or the thread count. Angles are radians, lengths metres (the
// unit of the semi-major axis). No Python here.
#pragma once

#include <cmath>
#include <cstdint>

#include "trig.hpp"

namespace orbalis::geodesy {

inline constexpr int kBlock = 8;  // two AVX2 vectors; few wasted lanes on one point

// An ellipsoid of revolution with its derived constants (a >= b > 0, checked by the caller).
struct Shape {
    double a;        // semi-major axis
    double b;        // semi-minor axis
    double ratio;    // b / a = 1 - f
    double e2;       // first eccentricity squared, (a^2 - b^2)/a^2
    double ae2;      // a e^2 = (a^2 - b^2)/a, the semi-axis of the evolute's cusp on the equator
    double inv_ae2;  // 1/(a e^2): A = rho/(a e^2) by one product
    double ratio_inv_ae2;  // (b/a)/(a e^2): B = z (b/a)/(a e^2) by one product
    bool sphere;           // b == a: the geodetic latitude is the geocentric one
};

inline Shape make_shape(double a, double b) noexcept {
    Shape s{};
    s.a = a;
    s.b = b;
    s.ratio = b / a;
    // a - b is exact, so a e^2 = (a - b)(a + b)/a keeps full relative precision (1 - ratio^2
    // would lose 8 bits to cancellation on the Earth's ellipsoids).
    s.ae2 = ((a - b) * (a + b)) / a;
    s.e2 = s.ae2 / a;
    s.inv_ae2 = 1.0 / s.ae2;
    s.ratio_inv_ae2 = s.ratio / s.ae2;
    s.sphere = !(s.e2 > 0.0);
    return s;
}

using Lane = double[kBlock];

// ---------------------------------------------------------------------------------------------
// Trig over a block: the vector path, then the scalar fix-up of the lanes it cannot take.

// The scalar fix-ups run only for blocks with a lane that needs them: the test is an OR over
// the lanes inside the vector loop, so a block of ordinary arguments pays one branch.
inline void sincos_block(const double* x, double* s, double* c) noexcept {
    std::int64_t large = 0;
    for (int i = 0; i < kBlock; ++i) {
        trig::sincos_fast(x[i], s[i], c[i]);
        large |= trig::needs_large_sincos(x[i]);
    }
    if (large) {
        for (int i = 0; i < kBlock; ++i) {
            if (trig::needs_large_sincos(x[i])) trig::sincos_large(x[i], s[i], c[i]);
        }
    }
}

inline void atan2_block(const double* y, const double* x, double* out) noexcept {
    std::int64_t special = 0;
    for (int i = 0; i < kBlock; ++i) {
        out[i] = trig::atan2_finite(y[i], x[i]);
        special |= trig::needs_atan2_special(y[i], x[i]);
    }
    if (special) {
        for (int i = 0; i < kBlock; ++i) {
            if (trig::needs_atan2_special(y[i], x[i])) out[i] = trig::atan2_special(y[i], x[i]);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Geodetic -> ECEF.

// Position from the sines and cosines of latitude and longitude and the height:
// (N + h) cos(lat) (cos lon, sin lon), (N b^2/a^2 + h) sin(lat), N = a / sqrt(1 - e^2 sin^2 lat).
inline void geodetic_to_ecef_lane(const Shape& sh, double slat, double clat, double slon,
                                  double clon, double h, double& x, double& y, double& z) noexcept {
    const double n = sh.a / std::sqrt(1.0 - sh.e2 * (slat * slat));
    const double rc = (n + h) * clat;
    x = rc * clon;
    y = rc * slon;
    z = (n * (sh.ratio * sh.ratio) + h) * slat;
}

struct TrigBlock {
    Lane slat, clat, slon, clon;
};

inline void trig_of(const double* lat, const double* lon, TrigBlock& t) noexcept {
    sincos_block(lat, t.slat, t.clat);
    sincos_block(lon, t.slon, t.clon);
}

inline void geodetic2ecef_block(const Shape& sh, const double* lat, const double* lon,
                                const double* h, double* x, double* y, double* z) noexcept {
    TrigBlock t;
    trig_of(lat, lon, t);
    for (int i = 0; i < kBlock; ++i) {
        geodetic_to_ecef_lane(sh, t.slat[i], t.clat[i], t.slon[i], t.clon[i], h[i], x[i], y[i],
                              z[i]);
    }
}

// An observer over a block: the sines and cosines of its latitude and longitude and its ECEF
// position. The ufunc loops derive it once for a whole call when every point has the same
// observer (the usual broadcast scalar), and block by block otherwise.
struct ObserverBlock {
    TrigBlock t;
    Lane x0, y0, z0;
};

inline void observer_of(const Shape& sh, const double* lat0, const double* lon0, const double* h0,
                        ObserverBlock& o) noexcept {
    trig_of(lat0, lon0, o.t);
    for (int i = 0; i < kBlock; ++i) {
        geodetic_to_ecef_lane(sh, o.t.slat[i], o.t.clat[i], o.t.slon[i], o.t.clon[i], h0[i],
                              o.x0[i], o.y0[i], o.z0[i]);
    }
}

// ---------------------------------------------------------------------------------------------
// ECEF -> geodetic.
//
// The reduced latitude beta of the foot of the normal through (rho, z) solves
// g(beta) = sin b cos b - A sin b + B cos b = 0 with A = rho/(a e^2), B = (b/a) z/(a e^2).
// Newton's method starts from the geocentric latitude and carries beta as the unit vector
// (cos beta, sin beta): a step of size d turns it by atan(d) (a rotation by (1, -d) and a
// renormalisation), which converges to the same root as the step beta -= d with only
// +, -, *, / and sqrt. The latitude then follows from tan(lat) = tan(beta) / (b/a).

inline constexpr double kNewtonTolerance = 1e-9;  // radians: stop after a step this small
inline constexpr int kFastIterations = 8;         // outside the evolute 3 or 4 steps suffice
inline constexpr int kCarefulIterations = 60;
// The vector path takes 4 <= A^2 + B^2 <= kFarLimit: nearer the centre the careful path
// chooses among several roots; beyond (r above 1e30 a e^2) the squares of the scaled step
// could overflow, and there the geocentric latitude is the geodetic one to the last bit.
inline constexpr double kNearLimit = 4.0;  // A^2 + B^2 < 4 within about 86 km on WGS-84
inline constexpr double kFarLimit = 1e60;

// One Newton step on (c, s) = (cos beta, sin beta); returns the step.
inline double newton_step(double A, double B, double& c, double& s) noexcept {
    const double g = (s * c - A * s) + B * c;
    const double gp = ((c * c - s * s) - A * c) - B * s;
    const double d = g / gp;
    const double cn = c + d * s, sn = s - d * c;
    // Divisions and square roots bound the vector loop: one reciprocal serves both components.
    const double inv_norm = 1.0 / std::sqrt(cn * cn + sn * sn);
    c = cn * inv_norm;
    s = sn * inv_norm;
    return d;
}

// The same Newton step for the vector path, on a direction (c, s) of length k (k = 1 after
// the first step): g and g' carry the factor k^2, and the turned direction
// (c + d s, s - d c) is taken times g' as (c g' + g s, s g' - g c), so that one division
// (the renormalisation) serves the step. Returns whether the step d = g/g' was at most the
// tolerance (true for NaN, as !(|d| > tol) is).
inline bool newton_turn(double A, double B, double k, double& c, double& s) noexcept {
    const double g = s * c - k * (A * s - B * c);
    const double gp = (c * c - s * s) - k * (A * c + B * s);
    const double cn = c * gp + g * s, sn = s * gp - g * c;
    const double inv_norm = 1.0 / std::sqrt(cn * cn + sn * sn);
    const double scale = gp < 0.0 ? -inv_norm : inv_norm;  // keeps the direction of c + d s
    c = cn * scale;
    s = sn * scale;
    return !(std::fabs(g) > kNewtonTolerance * std::fabs(gp));
}

// Double-double helpers for the polishing step near the centre: values hi + lo.
struct DD {
    double hi, lo;
};

inline DD two_sum(double a, double b) noexcept {
    const double s = a + b;
    const double bv = s - a;
    return {s, (a - (s - bv)) + (b - bv)};
}

inline DD dd_add(DD x, DD y) noexcept {
    const DD s = two_sum(x.hi, y.hi);
    const double lo = s.lo + (x.lo + y.lo);
    const double hi = s.hi + lo;
    return {hi, lo - (hi - s.hi)};
}

inline DD dd_mul(DD x, double y) noexcept {
    DD p;
    trig::two_product(x.hi, y, p.hi, p.lo);
    p.lo += x.lo * y;
    const double hi = p.hi + p.lo;
    return {hi, p.lo - (hi - p.hi)};
}

inline DD dd_div(DD x, DD y) noexcept {
    const double q = x.hi / y.hi;
    DD p;
    trig::two_product(q, y.hi, p.hi, p.lo);
    const double r = (((x.hi - p.hi) - p.lo) + x.lo) - q * y.lo;
    const double lo = r / y.hi;
    const double hi = q + lo;
    return {hi, lo - (hi - q)};
}

inline DD dd_sqrt(DD x) noexcept {
    if (!(x.hi > 0.0)) return {std::sqrt(x.hi), 0.0};  // 0 (the polar axis), or NaN
    const double r = std::sqrt(x.hi);
    DD p;
    trig::two_product(r, r, p.hi, p.lo);
    const double lo = (((x.hi - p.hi) - p.lo) + x.lo) / (2.0 * r);
    const double hi = r + lo;
    return {hi, lo - (hi - r)};
}

// Near the evolute the reduced-latitude equation has a nearly double root, so its zero moves
// by (rounding of g) / g' with a small g': A, B and g in plain doubles leave errors of a few
// 1e-15 rad within 100 km of the centre. This step recomputes A = a rho/(a^2 - b^2) and
// B = b z/(a^2 - b^2) and g in double-double from the exact inputs and takes one more Newton
// step from the converged (c, s).
inline void polish(const Shape& sh, double x, double y, double z, double& c, double& s) noexcept {
    DD xx, yy;
    trig::two_product(x, x, xx.hi, xx.lo);
    trig::two_product(y, y, yy.hi, yy.lo);
    const DD rho = dd_sqrt(dd_add(xx, yy));
    const DD sum_ab = two_sum(sh.a, sh.b);
    const DD d = dd_mul(sum_ab, sh.a - sh.b);  // a^2 - b^2; a - b is exact
    const DD A = dd_div(dd_mul(rho, sh.a), d);
    const DD B = dd_div(dd_mul(DD{z, 0.0}, sh.b), d);
    // g = s c - A s + B c, every product exact and the sum compensated.
    DD sc;
    trig::two_product(s, c, sc.hi, sc.lo);
    const DD as = dd_mul(A, -s), bc = dd_mul(B, c);
    const DD g = dd_add(dd_add(sc, as), bc);
    const double gp = ((c * c - s * s) - A.hi * c) - B.hi * s;
    const double step = (g.hi + g.lo) / gp;
    const double cn = c + step * s, sn = s - step * c;
    const double norm = std::sqrt(cn * cn + sn * sn);
    c = cn / norm;
    s = sn / norm;
}

// Near the centre (inside the evolute, where up to four normals pass through a point, and
// just outside it) the root reached from the geocentric start need not be the nearest foot
// point. There Newton runs from three starts (the geocentric direction, the pole on the
// point's side and the equator), the converged root nearest to the point wins, and one
// compensated step polishes it.
inline void solve_near_centre(const Shape& sh, double x, double y, double z, double A, double B,
                              double& c_out, double& s_out) noexcept {
    const double rho = std::sqrt(x * x + y * y);
    const double r = std::sqrt(rho * rho + z * z);
    const double starts[3][2] = {
        {r > 0.0 ? rho / r : 1.0, r > 0.0 ? z / r : 0.0},
        {0.0, std::signbit(z) ? -1.0 : 1.0},
        {1.0, 0.0},
    };
    double best = INFINITY;
    c_out = starts[1][0];
    s_out = starts[1][1];
    for (const auto& start : starts) {
        double c = start[0], s = start[1];
        bool converged = false;
        for (int it = 0; it < kCarefulIterations && !converged; ++it) {
            converged = !(std::fabs(newton_step(A, B, c, s)) > kNewtonTolerance);
        }
        if (!converged) continue;
        const double dr = rho - sh.a * c, dz = z - sh.b * s;
        const double dist2 = dr * dr + dz * dz;
        if (dist2 < best) {
            best = dist2;
            c_out = c;
            s_out = s;
        }
    }
    if (best < INFINITY) polish(sh, x, y, z, c_out, s_out);
}

// Height from the converged (cos beta, sin beta): the foot point is (a cos beta, b sin beta),
// the unit normal there (ratio cos beta, sin beta)/q; tan(lat) = sin beta / (ratio cos beta).
inline double height_of(const Shape& sh, double rho, double z, double c, double s) noexcept {
    const double rc = sh.ratio * c;
    const double inv_q = 1.0 / std::sqrt(rc * rc + s * s);
    return (rho - sh.a * c) * (rc * inv_q) + (z - sh.b * s) * (s * inv_q);
}

// Latitude and height of a point far beyond the ellipsoid (A^2 + B^2 > kFarLimit, so
// r > 1e30 a e^2): the normal through it passes within a e^2 of the centre, so the geodetic
// latitude is the geocentric one and the height the distance from the centre, to the last
// bit. The coordinates are scaled by powers of two so that no square overflows.
inline void far_point(double x, double y, double z, double& lat, double& h) noexcept {
    const double m = std::fmax(std::fabs(x), std::fmax(std::fabs(y), std::fabs(z)));
    const double scale = m > 0x1p500 ? 0x1p-600 : 1.0;
    const double xs = x * scale, ys = y * scale, zs = z * scale;
    const double rho = std::sqrt(xs * xs + ys * ys);
    lat = trig::atan2(zs, rho);
    h = std::sqrt(rho * rho + zs * zs) / scale;
}

inline void ecef2geodetic_block(const Shape& sh, const double* x, const double* y, const double* z,
                                double* lat, double* lon, double* h) noexcept {
    Lane rho, A, B, c, s, lat_y, lat_x;
    // Lane flags as 64-bit integers, the width of the double lanes they mask.
    std::int64_t done[kBlock], careful[kBlock];
    std::int64_t any_careful = 0, any_infinite = 0, any_special = 0;
    const double inv_a = 1.0 / sh.a;
    for (int i = 0; i < kBlock; ++i) {
        const double rho2 = x[i] * x[i] + y[i] * y[i];
        rho[i] = std::sqrt(rho2);
        A[i] = rho[i] * sh.inv_ae2;
        B[i] = z[i] * sh.ratio_inv_ae2;
        const double ab2 = A[i] * A[i] + B[i] * B[i];
        const bool infinite = std::isinf(x[i]) | std::isinf(y[i]) | std::isinf(z[i]);
        careful[i] = ((ab2 < kNearLimit) | (ab2 > kFarLimit)) & !infinite;
        any_infinite |= infinite;
        // The geocentric start (rho, z)/a, of length k = r/a, and the first step from it.
        double cs = rho[i] * inv_a, ss = z[i] * inv_a;
        const double k = std::sqrt(cs * cs + ss * ss);
        done[i] = newton_turn(A[i], B[i], k, cs, ss);
        c[i] = cs;
        s[i] = ss;
    }
    if (!sh.sphere) {
        for (int it = 1; it < kFastIterations; ++it) {
            std::int64_t active = 0;
            for (int i = 0; i < kBlock; ++i) {
                double cn = c[i], sn = s[i];
                const bool converged = newton_turn(A[i], B[i], 1.0, cn, sn);
                c[i] = done[i] ? c[i] : cn;
                s[i] = done[i] ? s[i] : sn;
                done[i] = done[i] | static_cast<std::int64_t>(converged);
                active += 1 - done[i];
            }
            if (active == 0) break;
        }
        for (int i = 0; i < kBlock; ++i) {
            careful[i] = careful[i] | !done[i];
            any_careful |= careful[i];
        }
        if (any_careful) {
            for (int i = 0; i < kBlock; ++i) {
                if (careful[i] && !(A[i] * A[i] + B[i] * B[i] > kFarLimit)) {
                    solve_near_centre(sh, x[i], y[i], z[i], A[i], B[i], c[i], s[i]);
                }
            }
        }
    } else {
        // A sphere: the geocentric direction is the normal (the centre gets the pole).
        for (int i = 0; i < kBlock; ++i) {
            const double r = std::sqrt(rho[i] * rho[i] + z[i] * z[i]);
            const bool origin = !(r > 0.0);
            c[i] = origin ? 0.0 : rho[i] / r;
            s[i] = origin ? 1.0 : z[i] / r;
            careful[i] = 0;  // A and B are infinite here: no lane is near or far
        }
    }
    for (int i = 0; i < kBlock; ++i) {
        lat_x[i] = sh.ratio * c[i];
        lat_y[i] = s[i];
        lat[i] = trig::atan2_finite(lat_y[i], lat_x[i]);
        any_special |= trig::needs_atan2_special(lat_y[i], lat_x[i]);
    }
    for (int i = 0; i < kBlock; ++i) {
        lon[i] = trig::atan2_finite(y[i], x[i]);
        any_special |= trig::needs_atan2_special(y[i], x[i]);
        h[i] = height_of(sh, rho[i], z[i], c[i], s[i]);
    }
    if (any_special) {
        for (int i = 0; i < kBlock; ++i) {
            if (trig::needs_atan2_special(lat_y[i], lat_x[i])) {
                lat[i] = trig::atan2_special(lat_y[i], lat_x[i]);
            }
            if (trig::needs_atan2_special(y[i], x[i])) lon[i] = trig::atan2_special(y[i], x[i]);
        }
    }
    for (int i = 0; i < kBlock; ++i) lon[i] = rho[i] == 0.0 ? 0.0 : lon[i];  // the polar axis
    if (any_careful) {
        for (int i = 0; i < kBlock; ++i) {
            if (careful[i] && A[i] * A[i] + B[i] * B[i] > kFarLimit)
                far_point(x[i], y[i], z[i], lat[i], h[i]);
        }
    }
    if (any_infinite) {
        for (int i = 0; i < kBlock; ++i) {
            if (std::isinf(x[i]) | std::isinf(y[i]) | std::isinf(z[i])) {
                // A point at infinity: the latitude and longitude of its direction, height +inf.
                const double ux = std::isinf(x[i]) ? std::copysign(1.0, x[i]) : 0.0;
                const double uy = std::isinf(y[i]) ? std::copysign(1.0, y[i]) : 0.0;
                const double uz = std::isinf(z[i]) ? std::copysign(1.0, z[i]) : 0.0;
                const bool has_nan = std::isnan(x[i]) | std::isnan(y[i]) | std::isnan(z[i]);
                lat[i] = has_nan ? NAN : trig::atan2(uz, std::sqrt(ux * ux + uy * uy));
                lon[i] = has_nan ? NAN : ((ux == 0.0 && uy == 0.0) ? 0.0 : trig::atan2(uy, ux));
                h[i] = has_nan ? NAN : INFINITY;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Local frames.

// ECEF vector -> ENU at (lat, lon).
inline void uvw_to_enu(double u, double v, double w, double slat, double clat, double slon,
                       double clon, double& e, double& n, double& up) noexcept {
    const double t = clon * u + slon * v;
    e = -slon * u + clon * v;
    up = clat * t + slat * w;
    n = -slat * t + clat * w;
}

// ENU vector at (lat, lon) -> ECEF.
inline void enu_to_uvw(double e, double n, double up, double slat, double clat, double slon,
                       double clon, double& u, double& v, double& w) noexcept {
    const double t = clat * up - slat * n;
    w = slat * up + clat * n;
    u = clon * t - slon * e;
    v = slon * t + clon * e;
}

inline constexpr double kTwoPiHi = 6.283185307179586, kTwoPiLo = 2.4492935982947064e-16;

// Azimuth (clockwise from north, in [0, 2 pi)), elevation and slant range of ENU vectors.
inline void enu2aer_block(const double* e, const double* n, const double* up, double* az,
                          double* el, double* range) noexcept {
    Lane horiz;
    for (int i = 0; i < kBlock; ++i) {
        horiz[i] = std::sqrt(e[i] * e[i] + n[i] * n[i]);
        range[i] = std::sqrt(horiz[i] * horiz[i] + up[i] * up[i]);
    }
    atan2_block(e, n, az);
    atan2_block(up, horiz, el);
    // atan2 gives (-pi, pi]: a negative azimuth is lifted by 2 pi carried as hi + lo, and a
    // lift that rounds up to 2 pi itself is the direction 0.
    for (int i = 0; i < kBlock; ++i) {
        const double lifted = kTwoPiHi + (kTwoPiLo + az[i]);
        const double wrapped = az[i] < 0.0 ? lifted : az[i];
        az[i] = wrapped >= kTwoPiHi ? 0.0 : wrapped;
    }
}

inline void aer2enu_block(const double* az, const double* el, const double* range, double* e,
                          double* n, double* up) noexcept {
    Lane saz, caz, sel, cel;
    sincos_block(az, saz, caz);
    sincos_block(el, sel, cel);
    for (int i = 0; i < kBlock; ++i) {
        const double horiz = range[i] * cel[i];
        e[i] = horiz * saz[i];
        n[i] = horiz * caz[i];
        up[i] = range[i] * sel[i];
    }
}

inline void ecef2enuv_block(const TrigBlock& t, const double* u, const double* v, const double* w,
                            double* e, double* n, double* up) noexcept {
    for (int i = 0; i < kBlock; ++i) {
        uvw_to_enu(u[i], v[i], w[i], t.slat[i], t.clat[i], t.slon[i], t.clon[i], e[i], n[i], up[i]);
    }
}

inline void enu2ecefv_block(const TrigBlock& t, const double* e, const double* n, const double* up,
                            double* u, double* v, double* w) noexcept {
    for (int i = 0; i < kBlock; ++i) {
        enu_to_uvw(e[i], n[i], up[i], t.slat[i], t.clat[i], t.slon[i], t.clon[i], u[i], v[i], w[i]);
    }
}

// The kernels below take the observer's block; those that need no more of the ellipsoid than
// the observer's position leave their Shape unnamed.

// ECEF point -> ENU offsets from the observer.
inline void ecef2enu_block(const Shape&, const ObserverBlock& o, const double* x, const double* y,
                           const double* z, double* e, double* n, double* up) noexcept {
    const TrigBlock& t = o.t;
    for (int i = 0; i < kBlock; ++i) {
        uvw_to_enu(x[i] - o.x0[i], y[i] - o.y0[i], z[i] - o.z0[i], t.slat[i], t.clat[i], t.slon[i],
                   t.clon[i], e[i], n[i], up[i]);
    }
}

inline void geodetic2enu_block(const Shape& sh, const ObserverBlock& o, const double* lat,
                               const double* lon, const double* h, double* e, double* n,
                               double* up) noexcept {
    Lane x, y, z;
    geodetic2ecef_block(sh, lat, lon, h, x, y, z);
    ecef2enu_block(sh, o, x, y, z, e, n, up);
}

inline void enu2ecef_block(const Shape&, const ObserverBlock& o, const double* e, const double* n,
                           const double* up, double* x, double* y, double* z) noexcept {
    const TrigBlock& t = o.t;
    for (int i = 0; i < kBlock; ++i) {
        double du, dv, dw;
        enu_to_uvw(e[i], n[i], up[i], t.slat[i], t.clat[i], t.slon[i], t.clon[i], du, dv, dw);
        x[i] = o.x0[i] + du;
        y[i] = o.y0[i] + dv;
        z[i] = o.z0[i] + dw;
    }
}

inline void enu2geodetic_block(const Shape& sh, const ObserverBlock& o, const double* e,
                               const double* n, const double* up, double* lat, double* lon,
                               double* h) noexcept {
    Lane x, y, z;
    enu2ecef_block(sh, o, e, n, up, x, y, z);
    ecef2geodetic_block(sh, x, y, z, lat, lon, h);
}

inline void ecef2aer_block(const Shape& sh, const ObserverBlock& o, const double* x,
                           const double* y, const double* z, double* az, double* el,
                           double* range) noexcept {
    Lane e, n, up;
    ecef2enu_block(sh, o, x, y, z, e, n, up);
    enu2aer_block(e, n, up, az, el, range);
}

inline void geodetic2aer_block(const Shape& sh, const ObserverBlock& o, const double* lat,
                               const double* lon, const double* h, double* az, double* el,
                               double* range) noexcept {
    Lane e, n, up;
    geodetic2enu_block(sh, o, lat, lon, h, e, n, up);
    enu2aer_block(e, n, up, az, el, range);
}

inline void aer2ecef_block(const Shape& sh, const ObserverBlock& o, const double* az,
                           const double* el, const double* range, double* x, double* y,
                           double* z) noexcept {
    Lane e, n, up;
    aer2enu_block(az, el, range, e, n, up);
    enu2ecef_block(sh, o, e, n, up, x, y, z);
}

inline void aer2geodetic_block(const Shape& sh, const ObserverBlock& o, const double* az,
                               const double* el, const double* range, double* lat, double* lon,
                               double* h) noexcept {
    Lane x, y, z;
    aer2ecef_block(sh, o, az, el, range, x, y, z);
    ecef2geodetic_block(sh, x, y, z, lat, lon, h);
}

// ---------------------------------------------------------------------------------------------
// Line of sight from an observer at (lat0, lon0, h0), azimuth az, tilt from the nadir: the
// first point where the half-line meets the ellipsoid, its latitude, longitude and distance;
// NaN where the half-line misses. An observer inside the ellipsoid sees the exit point.
inline void look_at_spheroid_block(const Shape& sh, const ObserverBlock& o, const double* az,
                                   const double* tilt, double* lat, double* lon,
                                   double* dist) noexcept {
    const TrigBlock& t = o.t;
    Lane saz, caz, stilt, ctilt, hx, hy, hz;
    sincos_block(az, saz, caz);
    sincos_block(tilt, stilt, ctilt);
    for (int i = 0; i < kBlock; ++i) {
        const double x0 = o.x0[i], y0 = o.y0[i], z0 = o.z0[i];
        double u, v, w;
        // Unit direction: elevation = tilt - 90 degrees, so up = -cos(tilt).
        enu_to_uvw(stilt[i] * saz[i], stilt[i] * caz[i], -ctilt[i], t.slat[i], t.clat[i], t.slon[i],
                   t.clon[i], u, v, w);
        // In axes scaled to the unit sphere: |p + l d|^2 = 1, i.e. qa l^2 + 2 qb l + qc = 0.
        const double px = x0 / sh.a, py = y0 / sh.a, pz = z0 / sh.b;
        const double dx = u / sh.a, dy = v / sh.a, dz = w / sh.b;
        const double qa = dx * dx + dy * dy + dz * dz;
        const double qb = px * dx + py * dy + pz * dz;
        const double qc = (px * px + py * py + pz * pz) - 1.0;
        const double disc = qb * qb - qa * qc;
        // Roots without cancellation: q = -(qb + sign(qb) sqrt(disc)), l = q/qa and qc/q.
        const double root = std::sqrt(disc > 0.0 ? disc : 0.0);
        const double q = -(qb + (qb < 0.0 ? -root : root));
        const double l1 = q / qa, l2 = qc / q;
        const double near = l1 < l2 ? l1 : l2, far = l1 < l2 ? l2 : l1;
        const double l = near >= 0.0 ? near : far;
        const bool hit = (disc >= 0.0) & (l >= 0.0);
        dist[i] = hit ? l : NAN;
        hx[i] = x0 + dist[i] * u;
        hy[i] = y0 + dist[i] * v;
        hz[i] = z0 + dist[i] * w;
    }
    Lane h;
    ecef2geodetic_block(sh, hx, hy, hz, lat, lon, h);
    for (int i = 0; i < kBlock; ++i) {
        lat[i] = std::isnan(dist[i]) ? NAN : lat[i];
        lon[i] = std::isnan(dist[i]) ? NAN : lon[i];
    }
}

}  // namespace orbalis::geodesy
