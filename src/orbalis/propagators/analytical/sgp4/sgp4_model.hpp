// The SGP4/SDP4 orbit model: initialisation from mean elements and propagation to a time
// since epoch, in the TEME frame (km, km/s). Written from Hoots & Roehrich, "Spacetrack
// Report No. 3: Models for Propagation of NORAD Element Sets" (1980), with the corrections
// and the "improved" / "afspc" operation modes of Vallado, Crawford, Hujsak & Kelso,
// "Revisiting Spacetrack Report #3", AIAA 2006-6753 (below: STR#3 and Rev. 2006). Near-earth
// orbits (period < 225 min) use SGP4; deep-space orbits add the lunar-solar secular and
// long-period terms and, for 12 h and 24 h orbits, the resonance integrator (SDP4).
// No Python here: plain data, inline noexcept functions, no allocation.
#pragma once

#include <cmath>
#include <cstdint>

namespace orbalis::sgp4 {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kDeg2Rad = kPi / 180.0;
constexpr double kX2o3 = 2.0 / 3.0;
// Guard for the 1/(1 + cos i) singularity of the long-period coefficient at i = 180 deg
// (Rev. 2006).
constexpr double kTemp4 = 1.5e-12;
// Minutes per day.
constexpr double kMinPerDay = 1440.0;
// Resonant orbits are integrated from epoch in 720 min steps, so the work grows with the
// time from epoch; beyond this many minutes (about 190 years) the model is refused rather
// than left to run for minutes on one call.
constexpr double kMaxResonanceMinutes = 1.0e8;

// Earth gravity model: the zonal harmonics and the gravitational parameter the elements
// were fitted with (Rev. 2006, Appendix: WGS-72 is the set the element sets assume).
struct Gravity {
    double mu;          // gravitational parameter, km^3/s^2
    double radius;      // equatorial radius, km
    double xke;         // sqrt(mu / radius^3) in 1/min: the model's time unit is 1/xke min
    double tumin;       // minutes per time unit, 1/xke
    double j2, j3, j4;  // zonal harmonics, dimensionless
    double j3oj2;       // j3 / j2
};

enum class GravityModel : int { wgs72old = 0, wgs72 = 1, wgs84 = 2 };

inline Gravity gravity(GravityModel which) noexcept {
    Gravity g{};
    switch (which) {
    case GravityModel::wgs72old:
        // WGS-72 with the xke of STR#3 as printed (0.0743669161 per min)
        g.mu = 398600.79964;
        g.radius = 6378.135;
        g.xke = 0.0743669161;
        g.j2 = 0.001082616;
        g.j3 = -0.00000253881;
        g.j4 = -0.00000165597;
        break;
    case GravityModel::wgs72:
        // WGS-72: mu 398600.8 km^3/s^2, a 6378.135 km
        g.mu = 398600.8;
        g.radius = 6378.135;
        g.xke = 60.0 / std::sqrt(g.radius * g.radius * g.radius / g.mu);
        g.j2 = 0.001082616;
        g.j3 = -0.00000253881;
        g.j4 = -0.00000165597;
        break;
    case GravityModel::wgs84:
        // WGS-84 (EGM-96 zonals): mu 398600.5 km^3/s^2, a 6378.137 km
        g.mu = 398600.5;
        g.radius = 6378.137;
        g.xke = 60.0 / std::sqrt(g.radius * g.radius * g.radius / g.mu);
        g.j2 = 0.00108262998905;
        g.j3 = -0.00000253215306;
        g.j4 = -0.00000161098761;
        break;
    }
    g.tumin = 1.0 / g.xke;
    g.j3oj2 = g.j3 / g.j2;
    return g;
}

// Mean elements as read from a TLE, in the model's units.
struct Elements {
    double epoch;     // days since 1949 December 31 00:00 UT (JD 2433281.5)
    double bstar;     // drag term, 1/earth radii
    double ecco;      // eccentricity
    double argpo;     // argument of perigee, rad
    double inclo;     // inclination, rad
    double mo;        // mean anomaly, rad
    double no_kozai;  // mean motion (Kozai convention, as in the TLE), rad/min
    double nodeo;     // right ascension of the ascending node, rad
};

// Model error numbers (STR#3 / Rev. 2006).
enum Error : int {
    kOk = 0,
    kMeanEccentricity = 1,  // mean eccentricity outside [-0.001, 1)
    kMeanMotion = 2,        // mean motion below zero
    kPerturbedEcc = 3,      // perturbed eccentricity outside [0, 1]
    kSemiLatusRectum = 4,   // semi-latus rectum below zero
    kDecayed = 6,           // radius below one earth radius
};

// Everything initialisation fixes: secular rates, drag coefficients, and for deep space
// the lunar-solar and resonance coefficients.
struct Model {
    Gravity g;
    bool afspc;  // opsmode 'a': the older operational sidereal time and node handling
    bool deep;   // SDP4 (period >= 225 min)
    bool isimp;  // perigee below 220 km or deep space: the simplified drag terms
    int irez;    // 0 none, 1 one-day (synchronous) resonance, 2 half-day resonance

    // elements
    double bstar, ecco, argpo, inclo, mo, no_unkozai, nodeo;
    // near-earth secular terms
    double a0;  // (xke / no_unkozai)^(2/3), earth radii
    double aycof, con41, cc1, cc4, cc5, d2, d3, d4, delmo, eta, argpdot, omgcof, sinmao;
    double t2cof, t3cof, t4cof, t5cof, x1mth2, x7thm1, mdot, nodedot, xlcof, xmcof, nodecf;
    // deep space: lunar-solar terms
    double gsto;
    double e3, ee2, se2, se3, sgh2, sgh3, sgh4, sh2, sh3, si2, si3, sl2, sl3, sl4;
    double xgh2, xgh3, xgh4, xh2, xh3, xi2, xi3, xl2, xl3, xl4, zmol, zmos;
    double dedt, didt, dmdt, dnodt, domdt;
    // deep space: resonance terms
    double d2201, d2211, d3210, d3222, d4410, d4422, d5220, d5232, d5421, d5433;
    double del1, del2, del3, xfact, xlamo;
};

// State of the resonance integrator: the integration runs from epoch in 720 min steps and
// may resume from the last step reached, which gives the same bits as restarting.
struct Resonance {
    double atime = 0.0, xli = 0.0, xni = 0.0;
};

// Greenwich mean sidereal time (IAU 1982) of a UT1 Julian date, rad in [0, 2 pi).
inline double gmst82(double jdut1) noexcept {
    const double tut1 = (jdut1 - 2451545.0) / 36525.0;
    double temp = -6.2e-6 * tut1 * tut1 * tut1 + 0.093104 * tut1 * tut1 +
                  (876600.0 * 3600 + 8640184.812866) * tut1 + 67310.54841;  // seconds
    temp = std::fmod(temp * kDeg2Rad / 240.0, kTwoPi);  // 240 s of time per degree
    if (temp < 0.0) temp += kTwoPi;
    return temp;
}

namespace detail {

// Lunar and solar coefficients shared by the secular and periodic deep-space terms
// (STR#3 section 10, "DEEP" initialisation). One pass for the sun, one for the moon.
struct Common {
    double snodm, cnodm, sinim, cosim, sinomm, cosomm, day, em, emsq, gam, rtemsq;
    double s1, s2, s3, s4, s5, ss1, ss2, ss3, ss4, ss5;
    double sz1, sz3, sz11, sz13, sz21, sz23, sz31, sz33;
    double z1, z3, z11, z13, z21, z23, z31, z33;
};

inline void deep_common(double epoch, double ep, double argpp, double tc, double inclp,
                        double nodep, double np, Model& m, Common& c) noexcept {
    // solar and lunar constants: eccentricities, and c1 = n (mass ratio) rad/min
    constexpr double zes = 0.01675, zel = 0.05490;
    constexpr double c1ss = 2.9864797e-6, c1l = 4.7968065e-7;
    // sine/cosine of the ecliptic obliquity and of the solar perigee argument
    constexpr double zsinis = 0.39785416, zcosis = 0.91744867;
    constexpr double zcosgs = 0.1945905, zsings = -0.98088458;

    const double nm = np;
    c.em = ep;
    c.snodm = std::sin(nodep);
    c.cnodm = std::cos(nodep);
    c.sinomm = std::sin(argpp);
    c.cosomm = std::cos(argpp);
    c.sinim = std::sin(inclp);
    c.cosim = std::cos(inclp);
    c.emsq = c.em * c.em;
    const double betasq = 1.0 - c.emsq;
    c.rtemsq = std::sqrt(betasq);

    // lunar orbit at the epoch: node, inclination to the equator, and mean longitude
    c.day = epoch + 18261.5 + tc / 1440.0;  // days since 1900 Jan 0.5
    // longitude of the lunar node, rad, at 1900 Jan 0.5 and its rate in rad/day
    const double xnodce = std::fmod(4.5236020 - 9.2422029e-4 * c.day, kTwoPi);
    const double stem = std::sin(xnodce), ctem = std::cos(xnodce);
    // cosine of the lunar inclination to the equator: cos(eps)cos(i_moon) and
    // sin(eps)sin(i_moon) with eps the obliquity and i_moon 5.145 deg to the ecliptic
    const double zcosil = 0.91375164 - 0.03568096 * ctem;
    const double zsinil = std::sqrt(1.0 - zcosil * zcosil);
    const double zsinhl = 0.089683511 * stem / zsinil;  // sin(i_moon) times node sine
    const double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
    // longitude of the lunar perigee, rad, and its rate, rad/day
    c.gam = 5.8351514 + 0.0019443680 * c.day;
    double zx = 0.39785416 * stem / zsinil;                        // sin(eps)
    const double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;  // cos(eps)
    zx = std::atan2(zx, zy);
    zx = c.gam + zx - xnodce;
    const double zcosgl = std::cos(zx), zsingl = std::sin(zx);

    double zcosg = zcosgs, zsing = zsings, zcosi = zcosis, zsini = zsinis;
    double zcosh = c.cnodm, zsinh = c.snodm, cc = c1ss;
    const double xnoi = 1.0 / nm;

    for (int body = 0; body < 2; ++body) {  // 0: sun, 1: moon
        const double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
        const double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
        const double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
        const double a8 = zsing * zsini;
        const double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
        const double a10 = zcosg * zsini;
        const double a2 = c.cosim * a7 + c.sinim * a8;
        const double a4 = c.cosim * a9 + c.sinim * a10;
        const double a5 = -c.sinim * a7 + c.cosim * a8;
        const double a6 = -c.sinim * a9 + c.cosim * a10;

        const double x1 = a1 * c.cosomm + a2 * c.sinomm;
        const double x2 = a3 * c.cosomm + a4 * c.sinomm;
        const double x3 = -a1 * c.sinomm + a2 * c.cosomm;
        const double x4 = -a3 * c.sinomm + a4 * c.cosomm;
        const double x5 = a5 * c.sinomm;
        const double x6 = a6 * c.sinomm;
        const double x7 = a5 * c.cosomm;
        const double x8 = a6 * c.cosomm;

        const double z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
        const double z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
        const double z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
        double z1 = 3.0 * (a1 * a1 + a2 * a2) + z31 * c.emsq;
        double z2 = 6.0 * (a1 * a3 + a2 * a4) + z32 * c.emsq;
        double z3 = 3.0 * (a3 * a3 + a4 * a4) + z33 * c.emsq;
        const double z11 = -6.0 * a1 * a5 + c.emsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
        const double z12 = -6.0 * (a1 * a6 + a3 * a5) +
                           c.emsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
        const double z13 = -6.0 * a3 * a6 + c.emsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
        const double z21 = 6.0 * a2 * a5 + c.emsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
        const double z22 = 6.0 * (a4 * a5 + a2 * a6) +
                           c.emsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
        const double z23 = 6.0 * a4 * a6 + c.emsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
        z1 = z1 + z1 + betasq * z31;
        z2 = z2 + z2 + betasq * z32;
        z3 = z3 + z3 + betasq * z33;
        const double s3 = cc * xnoi;
        const double s2 = -0.5 * s3 / c.rtemsq;
        const double s4 = s3 * c.rtemsq;
        const double s1 = -15.0 * c.em * s4;
        const double s5 = x1 * x3 + x2 * x4;
        const double s6 = x2 * x3 + x1 * x4;
        const double s7 = x2 * x4 - x1 * x3;

        if (body == 0) {
            c.ss1 = s1;
            c.ss2 = s2;
            c.ss3 = s3;
            c.ss4 = s4;
            c.ss5 = s5;
            c.sz1 = z1;
            c.sz3 = z3;
            c.sz11 = z11;
            c.sz13 = z13;
            c.sz21 = z21;
            c.sz23 = z23;
            c.sz31 = z31;
            c.sz33 = z33;
            // solar periodic coefficients
            m.se2 = 2.0 * s1 * s6;
            m.se3 = 2.0 * s1 * s7;
            m.si2 = 2.0 * s2 * z12;
            m.si3 = 2.0 * s2 * (z13 - z11);
            m.sl2 = -2.0 * s3 * z2;
            m.sl3 = -2.0 * s3 * (z3 - z1);
            m.sl4 = -2.0 * s3 * (-21.0 - 9.0 * c.emsq) * zes;
            m.sgh2 = 2.0 * s4 * z32;
            m.sgh3 = 2.0 * s4 * (z33 - z31);
            m.sgh4 = -18.0 * s4 * zes;
            m.sh2 = -2.0 * s2 * z22;
            m.sh3 = -2.0 * s2 * (z23 - z21);

            zcosg = zcosgl;
            zsing = zsingl;
            zcosi = zcosil;
            zsini = zsinil;
            zcosh = zcoshl * c.cnodm + zsinhl * c.snodm;
            zsinh = c.snodm * zcoshl - c.cnodm * zsinhl;
            cc = c1l;
        } else {
            c.s1 = s1;
            c.s2 = s2;
            c.s3 = s3;
            c.s4 = s4;
            c.s5 = s5;
            c.z1 = z1;
            c.z3 = z3;
            c.z11 = z11;
            c.z13 = z13;
            c.z21 = z21;
            c.z23 = z23;
            c.z31 = z31;
            c.z33 = z33;
            // lunar periodic coefficients
            m.ee2 = 2.0 * s1 * s6;
            m.e3 = 2.0 * s1 * s7;
            m.xi2 = 2.0 * s2 * z12;
            m.xi3 = 2.0 * s2 * (z13 - z11);
            m.xl2 = -2.0 * s3 * z2;
            m.xl3 = -2.0 * s3 * (z3 - z1);
            m.xl4 = -2.0 * s3 * (-21.0 - 9.0 * c.emsq) * zel;
            m.xgh2 = 2.0 * s4 * z32;
            m.xgh3 = 2.0 * s4 * (z33 - z31);
            m.xgh4 = -18.0 * s4 * zel;
            m.xh2 = -2.0 * s2 * z22;
            m.xh3 = -2.0 * s2 * (z23 - z21);
        }
    }
    // mean anomalies of the moon (mean longitude 4.7199672 rad at 1900 Jan 0.5, rate
    // 0.22997150 rad/day, less the perigee) and of the sun (6.2565837 rad, 0.017201977
    // rad/day) at epoch
    m.zmol = std::fmod(4.7199672 + 0.22997150 * c.day - c.gam, kTwoPi);
    m.zmos = std::fmod(6.2565837 + 0.017201977 * c.day, kTwoPi);
}

// Deep-space secular rates and resonance coefficients (STR#3 "DEEP" initialisation,
// Rev. 2006 ordering).
inline void deep_init(const Common& c, double xpidot, double eccsq, Model& m) noexcept {
    // geopotential resonance coefficients (STR#3), dimensionless: Q22, Q31, Q33 for the
    // one-day resonance, the root terms (tesseral harmonic amplitudes) for the half day
    constexpr double q22 = 1.7891679e-6, q31 = 2.1460748e-6, q33 = 2.2123015e-7;
    constexpr double root22 = 1.7891679e-6, root44 = 7.3636953e-9, root54 = 2.1765803e-9;
    constexpr double root32 = 3.7393792e-7, root52 = 1.1428639e-7;
    constexpr double rptim = 4.37526908801129966e-3;        // earth rotation rate, rad/min
    constexpr double znl = 1.5835218e-4, zns = 1.19459e-5;  // lunar, solar mean motions
    const double nm = m.no_unkozai;
    const double em = c.em, emsq = c.emsq, sinim = c.sinim, cosim = c.cosim;
    // em is the epoch eccentricity here (the secular change is applied at propagation)
    const double inclm = m.inclo;

    // resonance bands, rad/min: 0.8 to 1.2 rev/day (synchronous); 1.89 to 2.12 rev/day
    // with eccentricity of 0.5 or more (half-day, Molniya-like)
    m.irez = 0;
    if (nm < 0.0052359877 && nm > 0.0034906585) m.irez = 1;
    if (nm >= 8.26e-3 && nm <= 9.24e-3 && em >= 0.5) m.irez = 2;

    // solar secular terms
    const double ses = c.ss1 * zns * c.ss5;
    const double sis = c.ss2 * zns * (c.sz11 + c.sz13);
    const double sls = -zns * c.ss3 * (c.sz1 + c.sz3 - 14.0 - 6.0 * emsq);
    const double sghs = c.ss4 * zns * (c.sz31 + c.sz33 - 6.0);
    double shs = -zns * c.ss2 * (c.sz21 + c.sz23);
    // within 3 deg (5.2359877e-2 rad) of an equatorial orbit the node rate is not defined
    if (inclm < 5.2359877e-2 || inclm > kPi - 5.2359877e-2) shs = 0.0;
    if (sinim != 0.0) shs = shs / sinim;
    const double sgs = sghs - cosim * shs;

    // lunar secular terms
    m.dedt = ses + c.s1 * znl * c.s5;
    m.didt = sis + c.s2 * znl * (c.z11 + c.z13);
    m.dmdt = sls - znl * c.s3 * (c.z1 + c.z3 - 14.0 - 6.0 * emsq);
    const double sghl = c.s4 * znl * (c.z31 + c.z33 - 6.0);
    double shll = -znl * c.s2 * (c.z21 + c.z23);
    if (inclm < 5.2359877e-2 || inclm > kPi - 5.2359877e-2) shll = 0.0;
    m.domdt = sgs + sghl;
    m.dnodt = shs;
    if (sinim != 0.0) {
        m.domdt = m.domdt - cosim / sinim * shll;
        m.dnodt = m.dnodt + shll / sinim;
    }

    if (m.irez == 0) return;
    const double theta = std::fmod(m.gsto, kTwoPi);
    const double aonv = std::pow(nm / m.g.xke, kX2o3);

    if (m.irez == 2) {
        // half-day resonance: the eccentricity functions G (STR#3), dimensionless
        // polynomials fitted over two eccentricity ranges
        const double cosisq = cosim * cosim;
        const double e = m.ecco, esq = eccsq;
        const double eoc = e * esq;
        const double g201 = -0.306 - (e - 0.64) * 0.440;
        double g211, g310, g322, g410, g422, g520, g533, g521, g532;
        if (e <= 0.65) {
            g211 = 3.616 - 13.2470 * e + 16.2900 * esq;
            g310 = -19.302 + 117.3900 * e - 228.4190 * esq + 156.5910 * eoc;
            g322 = -18.9068 + 109.7927 * e - 214.6334 * esq + 146.5816 * eoc;
            g410 = -41.122 + 242.6940 * e - 471.0940 * esq + 313.9530 * eoc;
            g422 = -146.407 + 841.8800 * e - 1629.014 * esq + 1083.4350 * eoc;
            g520 = -532.114 + 3017.977 * e - 5740.032 * esq + 3708.2760 * eoc;
        } else {
            g211 = -72.099 + 331.819 * e - 508.738 * esq + 266.724 * eoc;
            g310 = -346.844 + 1582.851 * e - 2415.925 * esq + 1246.113 * eoc;
            g322 = -342.585 + 1554.908 * e - 2366.899 * esq + 1215.972 * eoc;
            g410 = -1052.797 + 4758.686 * e - 7193.992 * esq + 3651.957 * eoc;
            g422 = -3581.690 + 16178.110 * e - 24462.770 * esq + 12422.520 * eoc;
            if (e > 0.715)
                g520 = -5149.66 + 29936.92 * e - 54087.36 * esq + 31324.56 * eoc;
            else
                g520 = 1464.74 - 4664.75 * e + 3763.64 * esq;
        }
        if (e < 0.7) {
            g533 = -919.22770 + 4988.6100 * e - 9064.7700 * esq + 5542.21 * eoc;
            g521 = -822.71072 + 4568.6173 * e - 8491.4146 * esq + 5337.524 * eoc;
            g532 = -853.66600 + 4690.2500 * e - 8624.7700 * esq + 5341.4 * eoc;
        } else {
            g533 = -37995.780 + 161616.52 * e - 229838.20 * esq + 109377.94 * eoc;
            g521 = -51752.104 + 218913.95 * e - 309468.16 * esq + 146349.42 * eoc;
            g532 = -40023.880 + 170470.89 * e - 242699.48 * esq + 115605.82 * eoc;
        }
        // inclination functions F, dimensionless
        const double sini2 = sinim * sinim;
        const double f220 = 0.75 * (1.0 + 2.0 * cosim + cosisq);
        const double f221 = 1.5 * sini2;
        const double f321 = 1.875 * sinim * (1.0 - 2.0 * cosim - 3.0 * cosisq);
        const double f322 = -1.875 * sinim * (1.0 + 2.0 * cosim - 3.0 * cosisq);
        const double f441 = 35.0 * sini2 * f220;
        const double f442 = 39.3750 * sini2 * sini2;
        const double f522 = 9.84375 * sinim *
                            (sini2 * (1.0 - 2.0 * cosim - 5.0 * cosisq) +
                             0.33333333 * (-2.0 + 4.0 * cosim + 6.0 * cosisq));
        const double f523 = sinim * (4.92187512 * sini2 * (-2.0 - 4.0 * cosim + 10.0 * cosisq) +
                                     6.56250012 * (1.0 + 2.0 * cosim - 3.0 * cosisq));
        const double f542 =
            29.53125 * sinim * (2.0 - 8.0 * cosim + cosisq * (-12.0 + 8.0 * cosim + 10.0 * cosisq));
        const double f543 =
            29.53125 * sinim * (-2.0 - 8.0 * cosim + cosisq * (12.0 + 8.0 * cosim - 10.0 * cosisq));
        const double xno2 = nm * nm;
        const double ainv2 = aonv * aonv;
        double temp1 = 3.0 * xno2 * ainv2;
        double temp = temp1 * root22;
        m.d2201 = temp * f220 * g201;
        m.d2211 = temp * f221 * g211;
        temp1 = temp1 * aonv;
        temp = temp1 * root32;
        m.d3210 = temp * f321 * g310;
        m.d3222 = temp * f322 * g322;
        temp1 = temp1 * aonv;
        temp = 2.0 * temp1 * root44;
        m.d4410 = temp * f441 * g410;
        m.d4422 = temp * f442 * g422;
        temp1 = temp1 * aonv;
        temp = temp1 * root52;
        m.d5220 = temp * f522 * g520;
        m.d5232 = temp * f523 * g532;
        temp = 2.0 * temp1 * root54;
        m.d5421 = temp * f542 * g521;
        m.d5433 = temp * f543 * g533;
        m.xlamo = std::fmod(m.mo + m.nodeo + m.nodeo - theta - theta, kTwoPi);
        m.xfact = m.mdot + m.dmdt + 2.0 * (m.nodedot + m.dnodt - rptim) - m.no_unkozai;
    } else {
        // one-day (synchronous) resonance
        const double g200 = 1.0 + emsq * (-2.5 + 0.8125 * emsq);
        const double g310 = 1.0 + 2.0 * emsq;
        const double g300 = 1.0 + emsq * (-6.0 + 6.60937 * emsq);
        const double f220 = 0.75 * (1.0 + cosim) * (1.0 + cosim);
        const double f311 = 0.9375 * sinim * sinim * (1.0 + 3.0 * cosim) - 0.75 * (1.0 + cosim);
        double f330 = 1.0 + cosim;
        f330 = 1.875 * f330 * f330 * f330;
        double del1 = 3.0 * nm * nm * aonv * aonv;
        m.del2 = 2.0 * del1 * f220 * g200 * q22;
        m.del3 = 3.0 * del1 * f330 * g300 * q33 * aonv;
        m.del1 = del1 * f311 * g310 * q31 * aonv;
        m.xlamo = std::fmod(m.mo + m.nodeo + m.argpo - theta, kTwoPi);
        m.xfact = m.mdot + xpidot - rptim + m.dmdt + m.domdt + m.dnodt - m.no_unkozai;
    }
}

// Lunar-solar long-period periodics added to the mean elements (STR#3 "DPPER", with the
// Lyddane form below 0.2 rad of inclination and the node branch fixes of Rev. 2006).
inline void deep_periodics(const Model& m, double t, double& ep, double& inclp, double& nodep,
                           double& argpp, double& mp) noexcept {
    constexpr double zns = 1.19459e-5, zes = 0.01675;    // sun: mean motion rad/min, ecc.
    constexpr double znl = 1.5835218e-4, zel = 0.05490;  // moon
    double zm = m.zmos + zns * t;
    double zf = zm + 2.0 * zes * std::sin(zm);
    double sinzf = std::sin(zf);
    double f2 = 0.5 * sinzf * sinzf - 0.25;
    double f3 = -0.5 * sinzf * std::cos(zf);
    const double ses = m.se2 * f2 + m.se3 * f3;
    const double sis = m.si2 * f2 + m.si3 * f3;
    const double sls = m.sl2 * f2 + m.sl3 * f3 + m.sl4 * sinzf;
    const double sghs = m.sgh2 * f2 + m.sgh3 * f3 + m.sgh4 * sinzf;
    const double shs = m.sh2 * f2 + m.sh3 * f3;
    zm = m.zmol + znl * t;
    zf = zm + 2.0 * zel * std::sin(zm);
    sinzf = std::sin(zf);
    f2 = 0.5 * sinzf * sinzf - 0.25;
    f3 = -0.5 * sinzf * std::cos(zf);
    const double sel = m.ee2 * f2 + m.e3 * f3;
    const double sil = m.xi2 * f2 + m.xi3 * f3;
    const double sll = m.xl2 * f2 + m.xl3 * f3 + m.xl4 * sinzf;
    const double sghl = m.xgh2 * f2 + m.xgh3 * f3 + m.xgh4 * sinzf;
    const double shll = m.xh2 * f2 + m.xh3 * f3;
    const double pe = ses + sel;
    const double pinc = sis + sil;
    const double pl = sls + sll;
    double pgh = sghs + sghl;
    double ph = shs + shll;

    inclp = inclp + pinc;
    ep = ep + pe;
    const double sinip = std::sin(inclp), cosip = std::cos(inclp);
    if (inclp >= 0.2) {
        ph = ph / sinip;
        pgh = pgh - cosip * ph;
        argpp = argpp + pgh;
        nodep = nodep + ph;
        mp = mp + pl;
    } else {
        // Lyddane: perturb the components of the node vector, not the node itself
        const double sinop = std::sin(nodep), cosop = std::cos(nodep);
        double alfdp = sinip * sinop;
        double betdp = sinip * cosop;
        const double dalf = ph * cosop + pinc * cosip * sinop;
        const double dbet = -ph * sinop + pinc * cosip * cosop;
        alfdp = alfdp + dalf;
        betdp = betdp + dbet;
        nodep = std::fmod(nodep, kTwoPi);
        if (nodep < 0.0 && m.afspc) nodep = nodep + kTwoPi;
        double xls = mp + argpp + cosip * nodep;
        const double dls = pl + pgh - pinc * nodep * sinip;
        xls = xls + dls;
        const double xnoh = nodep;
        nodep = std::atan2(alfdp, betdp);
        if (nodep < 0.0 && m.afspc) nodep = nodep + kTwoPi;
        // keep the node on the branch of the unperturbed node
        if (std::fabs(xnoh - nodep) > kPi) {
            if (nodep < xnoh)
                nodep = nodep + kTwoPi;
            else
                nodep = nodep - kTwoPi;
        }
        mp = mp + pl;
        argpp = xls - mp - cosip * nodep;
    }
}

// Deep-space secular terms and the resonance integration to t (STR#3 "DPSEC").
inline void deep_secular(const Model& m, double t, Resonance& rs, double& em, double& argpm,
                         double& inclm, double& mm, double& nodem, double& nm) noexcept {
    // phase angles, rad, of the one-day resonance terms (fasx) and of the half-day
    // tesseral terms (g, the longitudes of the harmonics' axes) (STR#3)
    constexpr double fasx2 = 0.13130908, fasx4 = 2.8843198, fasx6 = 0.37448087;
    constexpr double g22 = 5.7686396, g32 = 0.95240898, g44 = 1.8014998;
    constexpr double g52 = 1.0508330, g54 = 4.4108898;
    constexpr double rptim = 4.37526908801129966e-3;  // earth rotation rate, rad/min
    constexpr double stepp = 720.0, stepn = -720.0;   // integrator step, min
    constexpr double step2 = 259200.0;                // stepp^2 / 2

    const double theta = std::fmod(m.gsto + t * rptim, kTwoPi);
    em = em + m.dedt * t;
    inclm = inclm + m.didt * t;
    argpm = argpm + m.domdt * t;
    nodem = nodem + m.dnodt * t;
    mm = mm + m.dmdt * t;
    if (m.irez == 0) return;

    // restart from epoch unless t lies beyond the last step, on the same side
    if (rs.atime == 0.0 || t * rs.atime <= 0.0 || std::fabs(t) < std::fabs(rs.atime)) {
        rs.atime = 0.0;
        rs.xni = m.no_unkozai;
        rs.xli = m.xlamo;
    }
    const double delt = t > 0.0 ? stepp : stepn;
    double xndt, xldot, xnddt, ft;
    for (;;) {
        if (m.irez != 2) {
            xndt = m.del1 * std::sin(rs.xli - fasx2) + m.del2 * std::sin(2.0 * (rs.xli - fasx4)) +
                   m.del3 * std::sin(3.0 * (rs.xli - fasx6));
            xldot = rs.xni + m.xfact;
            xnddt = m.del1 * std::cos(rs.xli - fasx2) +
                    2.0 * m.del2 * std::cos(2.0 * (rs.xli - fasx4)) +
                    3.0 * m.del3 * std::cos(3.0 * (rs.xli - fasx6));
            xnddt = xnddt * xldot;
        } else {
            const double xomi = m.argpo + m.argpdot * rs.atime;
            const double x2omi = xomi + xomi;
            const double x2li = rs.xli + rs.xli;
            xndt =
                m.d2201 * std::sin(x2omi + rs.xli - g22) + m.d2211 * std::sin(rs.xli - g22) +
                m.d3210 * std::sin(xomi + rs.xli - g32) + m.d3222 * std::sin(-xomi + rs.xli - g32) +
                m.d4410 * std::sin(x2omi + x2li - g44) + m.d4422 * std::sin(x2li - g44) +
                m.d5220 * std::sin(xomi + rs.xli - g52) + m.d5232 * std::sin(-xomi + rs.xli - g52) +
                m.d5421 * std::sin(xomi + x2li - g54) + m.d5433 * std::sin(-xomi + x2li - g54);
            xldot = rs.xni + m.xfact;
            xnddt =
                m.d2201 * std::cos(x2omi + rs.xli - g22) + m.d2211 * std::cos(rs.xli - g22) +
                m.d3210 * std::cos(xomi + rs.xli - g32) + m.d3222 * std::cos(-xomi + rs.xli - g32) +
                m.d5220 * std::cos(xomi + rs.xli - g52) + m.d5232 * std::cos(-xomi + rs.xli - g52) +
                2.0 * (m.d4410 * std::cos(x2omi + x2li - g44) + m.d4422 * std::cos(x2li - g44) +
                       m.d5421 * std::cos(xomi + x2li - g54) +
                       m.d5433 * std::cos(-xomi + x2li - g54));
            xnddt = xnddt * xldot;
        }
        if (std::fabs(t - rs.atime) < stepp) {
            ft = t - rs.atime;
            break;
        }
        rs.xli = rs.xli + xldot * delt + xndt * step2;
        rs.xni = rs.xni + xndt * delt + xnddt * step2;
        rs.atime = rs.atime + delt;
    }
    nm = rs.xni + xndt * ft + xnddt * ft * ft * 0.5;
    const double xl = rs.xli + xldot * ft + xndt * ft * ft * 0.5;
    if (m.irez != 1)
        mm = xl - 2.0 * nodem + 2.0 * theta;
    else
        mm = xl - nodem - argpm + theta;
    const double dndt = nm - m.no_unkozai;
    nm = m.no_unkozai + dndt;
}

}  // namespace detail

// Initialises `m` from the elements. Returns kMeanMotion when the un-Kozai'd mean motion
// is not positive or not finite (nothing else is refused here; propagation reports the
// rest).
inline int initialise(Model& m, const Elements& el, GravityModel which, bool afspc) noexcept {
    m = Model{};
    m.g = gravity(which);
    const Gravity& g = m.g;
    m.afspc = afspc;
    m.bstar = el.bstar;
    m.ecco = el.ecco;
    m.argpo = el.argpo;
    m.inclo = el.inclo;
    m.mo = el.mo;
    m.nodeo = el.nodeo;

    // perigee height 78 km above the surface and the 120 km reference of the density
    // function (STR#3: s and q0), in earth radii
    const double ss = 78.0 / g.radius + 1.0;
    const double qzms2ttemp = (120.0 - 78.0) / g.radius;
    const double qzms2t = qzms2ttemp * qzms2ttemp * qzms2ttemp * qzms2ttemp;

    // recover the original mean motion and semi-major axis from the Kozai mean motion
    const double eccsq = m.ecco * m.ecco;
    const double omeosq = 1.0 - eccsq;
    const double rteosq = std::sqrt(omeosq);
    const double cosio = std::cos(m.inclo);
    const double cosio2 = cosio * cosio;
    const double ak = std::pow(g.xke / el.no_kozai, kX2o3);
    const double d1 = 0.75 * g.j2 * (3.0 * cosio2 - 1.0) / (rteosq * omeosq);
    double del = d1 / (ak * ak);
    const double adel = ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
    del = d1 / (adel * adel);
    m.no_unkozai = el.no_kozai / (1.0 + del);
    if (!(m.no_unkozai > 0.0) || !std::isfinite(m.no_unkozai)) return kMeanMotion;

    const double ao = std::pow(g.xke / m.no_unkozai, kX2o3);
    m.a0 = ao;
    const double sinio = std::sin(m.inclo);
    const double po = ao * omeosq;
    const double con42 = 1.0 - 5.0 * cosio2;
    m.con41 = -con42 - cosio2 - cosio2;
    const double posq = po * po;
    const double rp = ao * (1.0 - m.ecco);

    // Greenwich sidereal time at epoch
    if (afspc) {
        // the older operational formula, from days since 1970 Jan 0.0
        const double ts70 = el.epoch - 7305.0;
        const double ds70 = std::floor(ts70 + 1.0e-8);
        const double tfrac = ts70 - ds70;
        constexpr double c1 = 1.72027916940703639e-2;     // rad/day beyond whole turns
        constexpr double thgr70 = 1.7321343856509374;     // rad at 1970 Jan 1.0
        constexpr double fk5r = 5.07551419432269442e-15;  // rad/day^2
        const double c1p2p = c1 + kTwoPi;
        m.gsto = std::fmod(thgr70 + c1 * ds70 + c1p2p * tfrac + ts70 * ts70 * fk5r, kTwoPi);
        if (m.gsto < 0.0) m.gsto = m.gsto + kTwoPi;
    } else {
        m.gsto = gmst82(el.epoch + 2433281.5);
    }

    m.isimp = rp < (220.0 / g.radius + 1.0);
    // the density function's s and q0 are lowered for perigees below 156 km
    double sfour = ss, qzms24 = qzms2t;
    const double perige = (rp - 1.0) * g.radius;
    if (perige < 156.0) {
        sfour = perige - 78.0;
        if (perige < 98.0) sfour = 20.0;
        const double q = (120.0 - sfour) / g.radius;
        qzms24 = q * q * q * q;
        sfour = sfour / g.radius + 1.0;
    }
    const double pinvsq = 1.0 / posq;
    const double tsi = 1.0 / (ao - sfour);
    m.eta = ao * m.ecco * tsi;
    const double etasq = m.eta * m.eta;
    const double eeta = m.ecco * m.eta;
    const double psisq = std::fabs(1.0 - etasq);
    const double coef = qzms24 * tsi * tsi * tsi * tsi;
    const double coef1 = coef / std::pow(psisq, 3.5);
    const double cc2 = coef1 * m.no_unkozai *
                       (ao * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                        0.375 * g.j2 * tsi / psisq * m.con41 * (8.0 + 3.0 * etasq * (8.0 + etasq)));
    m.cc1 = m.bstar * cc2;
    double cc3 = 0.0;
    if (m.ecco > 1.0e-4) cc3 = -2.0 * coef * tsi * g.j3oj2 * m.no_unkozai * sinio / m.ecco;
    m.x1mth2 = 1.0 - cosio2;
    m.cc4 =
        2.0 * m.no_unkozai * coef1 * ao * omeosq *
        (m.eta * (2.0 + 0.5 * etasq) + m.ecco * (0.5 + 2.0 * etasq) -
         g.j2 * tsi / (ao * psisq) *
             (-3.0 * m.con41 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
              0.75 * m.x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * m.argpo)));
    m.cc5 = 2.0 * coef1 * ao * omeosq * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
    const double cosio4 = cosio2 * cosio2;
    const double temp1 = 1.5 * g.j2 * pinvsq * m.no_unkozai;
    const double temp2 = 0.5 * temp1 * g.j2 * pinvsq;
    const double temp3 = -0.46875 * g.j4 * pinvsq * pinvsq * m.no_unkozai;
    m.mdot = m.no_unkozai + 0.5 * temp1 * rteosq * m.con41 +
             0.0625 * temp2 * rteosq * (13.0 - 78.0 * cosio2 + 137.0 * cosio4);
    m.argpdot = -0.5 * temp1 * con42 + 0.0625 * temp2 * (7.0 - 114.0 * cosio2 + 395.0 * cosio4) +
                temp3 * (3.0 - 36.0 * cosio2 + 49.0 * cosio4);
    const double xhdot1 = -temp1 * cosio;
    m.nodedot =
        xhdot1 + (0.5 * temp2 * (4.0 - 19.0 * cosio2) + 2.0 * temp3 * (3.0 - 7.0 * cosio2)) * cosio;
    const double xpidot = m.argpdot + m.nodedot;
    m.omgcof = m.bstar * cc3 * std::cos(m.argpo);
    m.xmcof = 0.0;
    if (m.ecco > 1.0e-4) m.xmcof = -kX2o3 * coef * m.bstar / eeta;
    m.nodecf = 3.5 * omeosq * xhdot1 * m.cc1;
    m.t2cof = 1.5 * m.cc1;
    if (std::fabs(cosio + 1.0) > kTemp4)
        m.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / (1.0 + cosio);
    else
        m.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / kTemp4;
    m.aycof = -0.5 * g.j3oj2 * sinio;
    const double delmotemp = 1.0 + m.eta * std::cos(m.mo);
    m.delmo = delmotemp * delmotemp * delmotemp;
    m.sinmao = std::sin(m.mo);
    m.x7thm1 = 7.0 * cosio2 - 1.0;

    // deep space: orbital period of 225 minutes or more
    if (kTwoPi / m.no_unkozai >= 225.0) {
        m.deep = true;
        m.isimp = true;
        detail::Common c;
        detail::deep_common(el.epoch, m.ecco, m.argpo, 0.0, m.inclo, m.nodeo, m.no_unkozai, m, c);
        detail::deep_init(c, xpidot, eccsq, m);
    }

    if (!m.isimp) {
        const double cc1sq = m.cc1 * m.cc1;
        m.d2 = 4.0 * ao * tsi * cc1sq;
        const double temp = m.d2 * tsi * m.cc1 / 3.0;
        m.d3 = (17.0 * ao + sfour) * temp;
        m.d4 = 0.5 * temp * ao * tsi * (221.0 * ao + 31.0 * sfour) * m.cc1;
        m.t3cof = m.d2 + 2.0 * cc1sq;
        m.t4cof = 0.25 * (3.0 * m.d3 + m.cc1 * (12.0 * m.d2 + 10.0 * cc1sq));
        m.t5cof = 0.2 * (3.0 * m.d4 + 12.0 * m.cc1 * m.d3 + 6.0 * m.d2 * m.d2 +
                         15.0 * cc1sq * (2.0 * m.d2 + cc1sq));
    }
    return kOk;
}

// Position (km) and velocity (km/s) in TEME at `t` minutes since epoch. Returns 0 or an
// Error number; for errors 1 to 4 r and v are NaN, for 6 (decayed) they hold the state
// the model computed. A non-finite t, or a resonant orbit more than kMaxResonanceMinutes
// from epoch, gives error 1. `rs` carries the resonance integrator between calls of one
// satellite (start each sequence with a default Resonance).
inline int propagate(const Model& m, double t, double r[3], double v[3], Resonance& rs) noexcept {
    const Gravity& g = m.g;
    const double nan = std::nan("");
    r[0] = r[1] = r[2] = v[0] = v[1] = v[2] = nan;
    // a NaN or infinite time has no mean elements: reported as the mean-element failure
    // (the resonance integration would never reach an infinite time)
    if (!std::isfinite(t)) return kMeanEccentricity;
    if (m.irez != 0 && std::fabs(t) > kMaxResonanceMinutes) return kMeanEccentricity;

    // secular gravity and atmospheric drag
    const double xmdf = m.mo + m.mdot * t;
    const double argpdf = m.argpo + m.argpdot * t;
    const double nodedf = m.nodeo + m.nodedot * t;
    double argpm = argpdf;
    double mm = xmdf;
    const double t2 = t * t;
    double nodem = nodedf + m.nodecf * t2;
    double tempa = 1.0 - m.cc1 * t;
    double tempe = m.bstar * m.cc4 * t;
    double templ = m.t2cof * t2;
    if (!m.isimp) {
        const double delomg = m.omgcof * t;
        const double delmtemp = 1.0 + m.eta * std::cos(xmdf);
        const double delm = m.xmcof * (delmtemp * delmtemp * delmtemp - m.delmo);
        const double temp = delomg + delm;
        mm = xmdf + temp;
        argpm = argpdf - temp;
        const double t3 = t2 * t;
        const double t4 = t3 * t;
        tempa = tempa - m.d2 * t2 - m.d3 * t3 - m.d4 * t4;
        tempe = tempe + m.bstar * m.cc5 * (std::sin(mm) - m.sinmao);
        templ = templ + m.t3cof * t3 + t4 * (m.t4cof + t * m.t5cof);
    }
    double nm = m.no_unkozai;
    double em = m.ecco;
    double inclm = m.inclo;
    double am;
    if (m.deep) {
        detail::deep_secular(m, t, rs, em, argpm, inclm, mm, nodem, nm);
        if (nm <= 0.0) return kMeanMotion;
        am = std::pow(g.xke / nm, kX2o3) * tempa * tempa;
    } else {
        am = m.a0 * tempa * tempa;
    }
    nm = g.xke / (am * std::sqrt(am));
    em = em - tempe;
    if (em >= 1.0 || em < -0.001 || !(em == em)) return kMeanEccentricity;
    if (em < 1.0e-6) em = 1.0e-6;
    mm = mm + m.no_unkozai * templ;
    double xlm = mm + argpm + nodem;
    nodem = std::fmod(nodem, kTwoPi);
    argpm = std::fmod(argpm, kTwoPi);
    xlm = std::fmod(xlm, kTwoPi);
    mm = std::fmod(xlm - argpm - nodem, kTwoPi);

    // lunar-solar periodics
    double ep = em, xincp = inclm, argpp = argpm, nodep = nodem, mp = mm;
    double sinip, cosip, aycof = m.aycof, xlcof = m.xlcof;
    double con41 = m.con41, x1mth2 = m.x1mth2, x7thm1 = m.x7thm1;
    if (m.deep) {
        detail::deep_periodics(m, t, ep, xincp, nodep, argpp, mp);
        if (xincp < 0.0) {
            xincp = -xincp;
            nodep = nodep + kPi;
            argpp = argpp - kPi;
        }
        if (ep < 0.0 || ep > 1.0) return kPerturbedEcc;
        sinip = std::sin(xincp);
        cosip = std::cos(xincp);
        aycof = -0.5 * g.j3oj2 * sinip;
        if (std::fabs(cosip + 1.0) > kTemp4)
            xlcof = -0.25 * g.j3oj2 * sinip * (3.0 + 5.0 * cosip) / (1.0 + cosip);
        else
            xlcof = -0.25 * g.j3oj2 * sinip * (3.0 + 5.0 * cosip) / kTemp4;
        const double cosisq = cosip * cosip;
        con41 = 3.0 * cosisq - 1.0;
        x1mth2 = 1.0 - cosisq;
        x7thm1 = 7.0 * cosisq - 1.0;
    } else {
        sinip = std::sin(xincp);
        cosip = std::cos(xincp);
    }

    // long-period periodics
    const double axnl = ep * std::cos(argpp);
    double temp = 1.0 / (am * (1.0 - ep * ep));
    const double aynl = ep * std::sin(argpp) + temp * aycof;
    const double xl = mp + argpp + nodep + temp * xlcof * axnl;

    // Kepler's equation in the equinoctial form, Newton steps bounded to 0.95 rad
    const double u = std::fmod(xl - nodep, kTwoPi);
    double eo1 = u, tem5 = 9999.9, sineo1 = 0.0, coseo1 = 0.0;
    for (int ktr = 1; std::fabs(tem5) >= 1.0e-12 && ktr <= 10; ++ktr) {
        sineo1 = std::sin(eo1);
        coseo1 = std::cos(eo1);
        tem5 = 1.0 - coseo1 * axnl - sineo1 * aynl;
        tem5 = (u - aynl * coseo1 + axnl * sineo1 - eo1) / tem5;
        if (std::fabs(tem5) >= 0.95) tem5 = tem5 > 0.0 ? 0.95 : -0.95;
        eo1 = eo1 + tem5;
    }

    // short-period periodics
    const double ecose = axnl * coseo1 + aynl * sineo1;
    const double esine = axnl * sineo1 - aynl * coseo1;
    const double el2 = axnl * axnl + aynl * aynl;
    const double pl = am * (1.0 - el2);
    if (pl < 0.0 || !(pl == pl)) return kSemiLatusRectum;
    const double rl = am * (1.0 - ecose);
    const double rdotl = std::sqrt(am) * esine / rl;
    const double rvdotl = std::sqrt(pl) / rl;
    const double betal = std::sqrt(1.0 - el2);
    temp = esine / (1.0 + betal);
    const double sinu = am / rl * (sineo1 - aynl - axnl * temp);
    const double cosu = am / rl * (coseo1 - axnl + aynl * temp);
    double su = std::atan2(sinu, cosu);
    const double sin2u = (cosu + cosu) * sinu;
    const double cos2u = 1.0 - 2.0 * sinu * sinu;
    temp = 1.0 / pl;
    const double temp1 = 0.5 * g.j2 * temp;
    const double temp2 = temp1 * temp;
    const double mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
    su = su - 0.25 * temp2 * x7thm1 * sin2u;
    const double xnode = nodep + 1.5 * temp2 * cosip * sin2u;
    const double xinc = xincp + 1.5 * temp2 * cosip * sinip * cos2u;
    const double mvt = rdotl - nm * temp1 * x1mth2 * sin2u / g.xke;
    const double rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) / g.xke;

    // orientation vectors
    const double sinsu = std::sin(su), cossu = std::cos(su);
    const double snod = std::sin(xnode), cnod = std::cos(xnode);
    const double sini = std::sin(xinc), cosi = std::cos(xinc);
    const double xmx = -snod * cosi;
    const double xmy = cnod * cosi;
    const double ux = xmx * sinsu + cnod * cossu;
    const double uy = xmy * sinsu + snod * cossu;
    const double uz = sini * sinsu;
    const double vx = xmx * cossu - cnod * sinsu;
    const double vy = xmy * cossu - snod * sinsu;
    const double vz = sini * cossu;

    const double mr = mrt * g.radius;
    const double vkmpersec = g.radius * g.xke / 60.0;
    r[0] = mr * ux;
    r[1] = mr * uy;
    r[2] = mr * uz;
    v[0] = (mvt * ux + rvdot * vx) * vkmpersec;
    v[1] = (mvt * uy + rvdot * vy) * vkmpersec;
    v[2] = (mvt * uz + rvdot * vz) * vkmpersec;
    return mrt < 1.0 ? kDecayed : kOk;
}

}  // namespace orbalis::sgp4
