// The native kernels of the Ellipsoid type: geodetic and reduced latitudes, surface
// points and vectors, geodetic positions, the local ENU frame, azimuth-elevation-range
// observation and ray intersection.
//
// The kernels are templates over the object type `Self`, which provides `Re`, `f`, the
// kernel table `vtab` (a KernelTable<Self>), and two free functions found by
// argument-dependent lookup: `kernel_error_pending(self, kernel)`, the test for a pending
// interpreter error made after every nested kernel call (`kernel` is the bare name of the
// kernel that made the call, for its traceback entry), and
// `vector_kernels(self)`, the 3-vector kernels bound from lingeom. Nothing here includes
// Python.h: a plain C++ object can instantiate them (benchmarks, native tests).
//
// Every expression is written in the operation order it must be evaluated in; the build
// forbids contraction into fused multiply-add, so the results are bit-for-bit those of
// IEEE double arithmetic with the C library's sincos, tan, atan, atan2, asin and sqrt.
// The kernels allocate nothing and call each other through the kernel table, so a native
// subclass that replaces one slot changes every kernel built on it.
#pragma once

#include <cmath>

#include "lingeom.hpp"
#include "records.hpp"

namespace orbalis::ellipsoid {

template <class Self>
struct KernelTable {
    double (*c_reduced_lat_from_geodetic_lat)(Self*, double);
    double (*c_geodetic_lat_from_reduced_lat)(Self*, double);
    void (*surf_normal_vector)(Self*, SurfCoord, double*);
    void (*surf_tangent_vector)(Self*, SurfCoord, double*, double*);
    void (*c_enu)(Self*, SurfCoord, ENU_Frame*);
    void (*c_surf_pos_from_surf_coord)(Self*, SurfCoord, double*);
    void (*c_surf_coord_from_surf_pos)(Self*, double*, SurfCoord*);
    double (*c_solve_reduced_lat_equation)(Self*, double*);
    void (*c_lla_from_pos)(Self*, double*, LLA*);
    void (*c_pos_from_lla)(Self*, LLA, double*);
    void (*c_surf_pos_of_ray_first_intersection)(Self*, double*, double*, double*);
    void (*c_aer_coords)(Self*, double*, LLA, AER*);
};

// The lingeom kernels the observation kernel calls (bound by name at import).
struct VectorKernels {
    lingeom::ScaleFn scale;
    lingeom::BinaryFn add;
    lingeom::BinaryFn sub;
    lingeom::DotFn dot;
    lingeom::NormFn norm;
};

// Newton steps allowed before the reduced-latitude iteration gives up with NaN. Points
// that converge need fewer than ten; near the evolute, deep inside the ellipsoid, the
// iteration can cycle for ever, and no input may hang the caller.
inline constexpr int kMaxNewtonSteps = 128;

// Step size at which the Newton iteration stops (radians), the step itself still applied.
inline constexpr double kNewtonTolerance = 1.567e-5;

// Below this distance from the polar axis (unit of Re) the altitude is measured from the
// pole: the general formula divides by cos(beta), which vanishes there.
inline constexpr double kAxisDistance = 1e-5;

// Below this |cos(beta)| (within about 1e-3 rad of a pole) the altitude is the distance along
// the normal: the general formula divides by cos(beta), which amplifies the rounding of beta
// (on WGS-84, 27 m wrong at 0.1 mm from the axis).
inline constexpr double kPolarCosBeta = 1e-3;

// How a kernel reaches the kernels it is built on. Through the table (the kernel table's
// own entries): each call goes through the object's slot and is followed by the test for
// a pending interpreter error, so a native subclass that replaces a slot is honoured.
// Direct: this header's kernels are called and inlined, and the tests are left out, since
// none of them raises. The methods take the direct form when the object's table is the
// module's own, where both forms compute the same bits.
enum class Calls { through_table, direct };

// After a nested call: true (return at once) when an interpreter error is pending, with a
// traceback entry for `kernel`; never in the direct form, whose callees cannot raise.
template <Calls calls, class Self>
inline bool error_pending(Self* self, const char* kernel) noexcept {
    if constexpr (calls == Calls::direct)
        return false;
    else
        return kernel_error_pending(self, kernel);
}

// -- latitudes -----------------------------------------------------------------------------

// beta = atan((1 - f) tan(phi)); tan folds any input into [-pi/2, pi/2] by its period.
template <class Self, Calls = Calls::through_table>
double c_reduced_lat_from_geodetic_lat(Self* self, double geodetic_lat) noexcept {
    return std::atan((1.0 - self->f) * std::tan(geodetic_lat));
}

// phi = atan(tan(beta) / (1 - f)).
template <class Self, Calls = Calls::through_table>
double c_geodetic_lat_from_reduced_lat(Self* self, double reduced_lat) noexcept {
    return std::atan(std::tan(reduced_lat) / (1.0 - self->f));
}

// The two latitude maps as the kernels built on them call them, in the form `calls`
// selects (see Calls). The direct form names the kernel, so that it is inlined.
template <Calls calls, class Self>
inline double reduced_lat_of(Self* self, double geodetic_lat) noexcept {
    if constexpr (calls == Calls::direct)
        return c_reduced_lat_from_geodetic_lat<Self, Calls::direct>(self, geodetic_lat);
    else
        return self->vtab->c_reduced_lat_from_geodetic_lat(self, geodetic_lat);
}

template <Calls calls, class Self>
inline double geodetic_lat_of(Self* self, double reduced_lat) noexcept {
    if constexpr (calls == Calls::direct)
        return c_geodetic_lat_from_reduced_lat<Self, Calls::direct>(self, reduced_lat);
    else
        return self->vtab->c_geodetic_lat_from_reduced_lat(self, reduced_lat);
}

// Reduced latitude of the foot of the surface normal through r, by Newton's method on
// g(beta) = sin(beta) cos(beta) - A sin(beta) + B cos(beta), started from the geocentric
// latitude. A NaN step ends the loop (the comparison is false), which is how the origin,
// a sphere (a e^2 = 0) and a vanishing derivative end in NaN.
template <class Self, Calls = Calls::through_table>
double c_solve_reduced_lat_equation(Self* self, double* r) noexcept {
    const double x = r[0], y = r[1], z = r[2];
    const double f = self->f;
    const double aux1 = x * x + y * y;
    const double rho = std::sqrt(aux1);
    const double a_e2 = self->Re * f * (2.0 - f);
    const double A = rho / a_e2;
    const double B = (1.0 - f) * z / a_e2;
    double beta = std::asin(z / std::sqrt(aux1 + z * z));
    double inc;
    int steps = 0;
    do {
        if (steps++ == kMaxNewtonSteps) return NAN;
        double s, c;
        sincos(beta, &s, &c);
        inc = (c * s - A * s + B * c) / (c * c - s * s - A * c - B * s);
        beta = beta - inc;
    } while (std::fabs(inc) > kNewtonTolerance);
    return beta;
}

// The reduced-latitude equation as the kernels built on it call it (see reduced_lat_of).
template <Calls calls, class Self>
inline double reduced_lat_equation_of(Self* self, double* r) noexcept {
    if constexpr (calls == Calls::direct)
        return c_solve_reduced_lat_equation<Self, Calls::direct>(self, r);
    else
        return self->vtab->c_solve_reduced_lat_equation(self, r);
}

// -- surface points and vectors ------------------------------------------------------------
//
// The formulas take the sines and cosines they need, so that a kernel that needs one angle
// in two formulas evaluates it once (the values are the same either way).

// (a cos(beta) cos(lon), a cos(beta) sin(lon), b sin(beta)) with b = a (1 - f).
inline void surface_position(double Re, double f, double sin_beta, double cos_beta, double sin_lon,
                             double cos_lon, double* r_surf) noexcept {
    r_surf[0] = Re * cos_beta * cos_lon;
    r_surf[1] = Re * cos_beta * sin_lon;
    r_surf[2] = Re * sin_beta * (1.0 - f);
}

// The outward unit normal, from the geodetic latitude itself.
inline void normal_vector(double sin_lat, double cos_lat, double sin_lon, double cos_lon,
                          double* u_normal) noexcept {
    u_normal[0] = cos_lat * cos_lon;
    u_normal[1] = cos_lat * sin_lon;
    u_normal[2] = sin_lat;
}

// East along the parallel; north along the meridian, from the derivative of the surface
// point with respect to the reduced latitude, normalised.
inline void tangent_vectors(double f, double sin_beta, double cos_beta, double sin_lon,
                            double cos_lon, double* u_east, double* u_north) noexcept {
    const double aux = std::sqrt(1.0 - (2.0 - f) * f * cos_beta * cos_beta);
    u_east[0] = -sin_lon;
    u_east[1] = cos_lon;
    u_east[2] = 0.0;
    u_north[0] = -sin_beta * cos_lon / aux;
    u_north[1] = -sin_beta * sin_lon / aux;
    u_north[2] = (1.0 - f) * cos_beta / aux;
}

template <class Self, Calls = Calls::through_table>
void surf_normal_vector(Self*, SurfCoord point, double* u_normal) noexcept {
    double sin_lat, cos_lat, sin_lon, cos_lon;
    sincos(point.lat, &sin_lat, &cos_lat);
    sincos(point.lon, &sin_lon, &cos_lon);
    normal_vector(sin_lat, cos_lat, sin_lon, cos_lon, u_normal);
}

template <class Self, Calls calls = Calls::through_table>
void surf_tangent_vector(Self* self, SurfCoord point, double* u_east, double* u_north) noexcept {
    const double beta = reduced_lat_of<calls>(self, point.lat);
    if (error_pending<calls>(self, "surf_tangent_vector")) return;
    double sin_lon, cos_lon, sin_beta, cos_beta;
    sincos(point.lon, &sin_lon, &cos_lon);
    sincos(beta, &sin_beta, &cos_beta);
    tangent_vectors(self->f, sin_beta, cos_beta, sin_lon, cos_lon, u_east, u_north);
}

template <class Self, Calls calls = Calls::through_table>
void c_surf_pos_from_surf_coord(Self* self, SurfCoord point, double* r_surf) noexcept {
    const double beta = reduced_lat_of<calls>(self, point.lat);
    if (error_pending<calls>(self, "c_surf_pos_from_surf_coord")) return;
    double sin_lon, cos_lon, sin_beta, cos_beta;
    sincos(point.lon, &sin_lon, &cos_lon);
    sincos(beta, &sin_beta, &cos_beta);
    surface_position(self->Re, self->f, sin_beta, cos_beta, sin_lon, cos_lon, r_surf);
}

// The position is taken to lie on the surface: only z fixes the latitude, so |z| above
// the polar radius gives NaN.
template <class Self, Calls calls = Calls::through_table>
void c_surf_coord_from_surf_pos(Self* self, double* r_surf, SurfCoord* point) noexcept {
    const double beta = std::asin((r_surf[2] / self->Re) / (1.0 - self->f));
    point->lon = std::atan2(r_surf[1], r_surf[0]);
    const double lat = geodetic_lat_of<calls>(self, beta);
    if (error_pending<calls>(self, "c_surf_coord_from_surf_pos")) return;
    point->lat = lat;
}

// -- geodetic positions ---------------------------------------------------------------------

template <class Self, Calls calls = Calls::through_table>
void c_lla_from_pos(Self* self, double* r, LLA* lla) noexcept {
    const double x = r[0], y = r[1], z = r[2];
    const double f = self->f;
    // On the axis the longitude is defined as 0; a NaN takes the atan2 branch.
    lla->lon = (x == 0.0 && y == 0.0) ? 0.0 : std::atan2(y, x);
    const double beta = reduced_lat_equation_of<calls>(self, r);
    if (error_pending<calls>(self, "c_lla_from_pos")) return;
    const double r_equatorial_projection = std::sqrt(x * x + y * y);
    const double lat = geodetic_lat_of<calls>(self, beta);
    if (error_pending<calls>(self, "c_lla_from_pos")) return;
    lla->lat = lat;
    if (r_equatorial_projection < kAxisDistance) {
        lla->alt = std::fabs(z) - (1.0 - f) * self->Re;
    } else {
        const double cos_beta = std::cos(beta);
        if (std::fabs(cos_beta) < kPolarCosBeta) {
            // Near the pole, the distance from the foot point along the surface normal:
            // (rho - a cos(beta), z - b sin(beta)) . (cos(phi), sin(phi)). An error in beta
            // moves the foot point along the surface, perpendicular to the normal, so the
            // altitude changes only at second order (within 1e-5 m on WGS-84 up to 1e8 m).
            const double sin_beta = std::sin(beta);
            double sin_lat, cos_lat;
            sincos(lat, &sin_lat, &cos_lat);
            lla->alt = (r_equatorial_projection - self->Re * cos_beta) * cos_lat +
                       (z - ((1.0 - f) * self->Re) * sin_beta) * sin_lat;
        } else {
            // (rho - a cos(beta)) / cos(phi), written through beta; a NaN cos(beta) comes here.
            lla->alt = std::sqrt(1.0 - (2.0 - f) * f * cos_beta * cos_beta) *
                       (r_equatorial_projection / cos_beta - self->Re) / (1.0 - f);
        }
    }
}

// Surface point plus altitude along the normal of the same geodetic latitude.
template <class Self, Calls calls = Calls::through_table>
void c_pos_from_lla(Self* self, LLA lla, double* r) noexcept {
    const SurfCoord point{lla.lat, lla.lon};
    double r_surf[3], u_normal[3];
    if constexpr (calls == Calls::direct) {
        // The surface point and the normal share the longitude's sine and cosine.
        const double beta = c_reduced_lat_from_geodetic_lat(self, point.lat);
        double sin_lon, cos_lon, sin_beta, cos_beta, sin_lat, cos_lat;
        sincos(point.lon, &sin_lon, &cos_lon);
        sincos(beta, &sin_beta, &cos_beta);
        surface_position(self->Re, self->f, sin_beta, cos_beta, sin_lon, cos_lon, r_surf);
        sincos(point.lat, &sin_lat, &cos_lat);
        normal_vector(sin_lat, cos_lat, sin_lon, cos_lon, u_normal);
    } else {
        self->vtab->c_surf_pos_from_surf_coord(self, point, r_surf);
        if (kernel_error_pending(self, "c_pos_from_lla")) return;
        self->vtab->surf_normal_vector(self, point, u_normal);
        if (kernel_error_pending(self, "c_pos_from_lla")) return;
    }
    r[0] = lla.alt * u_normal[0] + r_surf[0];
    r[1] = lla.alt * u_normal[1] + r_surf[1];
    r[2] = lla.alt * u_normal[2] + r_surf[2];
}

// -- observation ----------------------------------------------------------------------------

template <class Self, Calls calls = Calls::through_table>
void c_enu(Self* self, SurfCoord point, ENU_Frame* enu) noexcept {
    if constexpr (calls == Calls::direct) {
        // Up and the tangents share the longitude's sine and cosine.
        const double beta = c_reduced_lat_from_geodetic_lat(self, point.lat);
        double sin_lat, cos_lat, sin_lon, cos_lon, sin_beta, cos_beta;
        sincos(point.lat, &sin_lat, &cos_lat);
        sincos(point.lon, &sin_lon, &cos_lon);
        normal_vector(sin_lat, cos_lat, sin_lon, cos_lon, enu->u_up);
        sincos(beta, &sin_beta, &cos_beta);
        tangent_vectors(self->f, sin_beta, cos_beta, sin_lon, cos_lon, enu->u_east, enu->u_north);
    } else {
        self->vtab->surf_normal_vector(self, point, enu->u_up);
        if (kernel_error_pending(self, "c_enu")) return;
        self->vtab->surf_tangent_vector(self, point, enu->u_east, enu->u_north);
        if (kernel_error_pending(self, "c_enu")) return;
    }
}

// Steps of c_aer_coords that follow the line of sight r_target_obs (target minus
// observer) and the observer's frame enu_obs: its components along east, north and up,
// the range, then azimuth from north towards east in (-pi, pi] (not wrapped into
// [0, 2 pi)) and elevation from the plane normal to the geodetic vertical. A pending
// interpreter error ends it with the record partly written. `test_errors` = false leaves
// out the pending-error tests after the vector kernels, for callers that know none is
// pending on entry: the lingeom kernels never set one.
template <bool test_errors, class Self>
void aer_from_line_of_sight(Self* self, double* r_target_obs, ENU_Frame* enu_obs,
                            AER* aer) noexcept {
    constexpr const char* name = "c_aer_coords";
    const VectorKernels& vk = vector_kernels(self);
    const double east = vk.dot(r_target_obs, enu_obs->u_east);
    if (test_errors && kernel_error_pending(self, name)) return;
    const double north = vk.dot(r_target_obs, enu_obs->u_north);
    if (test_errors && kernel_error_pending(self, name)) return;
    const double up = vk.dot(r_target_obs, enu_obs->u_up);
    if (test_errors && kernel_error_pending(self, name)) return;
    aer->range = vk.norm(r_target_obs);
    if (test_errors && kernel_error_pending(self, name)) return;
    aer->azimuth = std::atan2(east, north);
    // Divided by the range as stored: a target at the observer gives 0/0 = NaN.
    aer->elevation = std::asin(up / aer->range);
}

// Observation of a target from an observer at lla_obs.
template <class Self>
void c_aer_coords(Self* self, double* r_target, LLA lla_obs, AER* aer) noexcept {
    const VectorKernels& vk = vector_kernels(self);
    double r_obs[3], r_target_obs[3];
    self->vtab->c_pos_from_lla(self, lla_obs, r_obs);
    if (kernel_error_pending(self, "c_aer_coords")) return;
    vk.sub(r_target, r_obs, r_target_obs);
    if (kernel_error_pending(self, "c_aer_coords")) return;
    // The frame at the observer's foot point: the altitude does not enter it.
    const SurfCoord coord_obs{lla_obs.lat, lla_obs.lon};
    ENU_Frame enu_obs;
    self->vtab->c_enu(self, coord_obs, &enu_obs);
    if (kernel_error_pending(self, "c_aer_coords")) return;
    aer_from_line_of_sight<true>(self, r_target_obs, &enu_obs, aer);
}

// c_aer_coords for an observer whose position r_obs and frame enu_obs were computed
// beforehand by the c_pos_from_lla and c_enu slots. The observer does not change from
// target to target in a batch, so computing them once per batch gives the same bits as
// calling c_aer_coords per target, as long as those slots are this table's own (they
// are pure functions of lla_obs); a table that replaces a slot must go per target. The
// caller makes sure no interpreter error is pending on entry, so the tests after the
// vector kernels, which could never fire, are left out.
template <class Self>
void aer_from_observer(Self* self, double* r_target, double* r_obs, ENU_Frame* enu_obs,
                       AER* aer) noexcept {
    double r_target_obs[3];
    vector_kernels(self).sub(r_target, r_obs, r_target_obs);
    aer_from_line_of_sight<false>(self, r_target_obs, enu_obs, aer);
}

// The scale of z^2 in the surface equation x^2 + y^2 + z^2 diagGz = Re^2, that is
// 1 / (1 - f)^2, formed as the ray kernel forms it.
inline double ray_diagGz(double f) noexcept { return (1.0 / (1.0 - f)) / (1.0 - f); }

// The ray kernel past its first step, for diagGz = ray_diagGz(f): where the line r + l u
// meets the surface. Of the two roots of a l^2 + b l + c = 0 the one of smaller magnitude
// is taken: the near side for a source outside, the source itself on the surface, the
// nearer of the two points along the line for a source inside (the centre's tie takes
// l2). A line that misses gives NaNs, and so does a ray pointing away from the
// ellipsoid, whose roots, a tangent root included, all lie behind the source.
inline void ray_first_intersection(double Re, double diagGz, const double* r, const double* u,
                                   double* r_surf) noexcept {
    const double a = u[2] * u[2] * diagGz + (u[1] * u[1] + u[0] * u[0]);
    const double b = 2.0 * (u[0] * r[0] + u[1] * r[1] + u[2] * r[2] * diagGz);
    const double c = (r[1] * r[1] + r[0] * r[0]) + r[2] * r[2] * diagGz - Re * Re;
    const double delta = b * b - (4.0 * a) * c;
    double l;
    if (delta < 0.0) {
        l = NAN;
    } else if (delta == 0.0) {
        l = (0.5 * (-b)) / a;
        if (l < 0.0) l = NAN;  // the tangent point lies behind the source
    } else {
        // Also taken when delta is NaN, which makes both roots NaN.
        const double sqrt_delta = std::sqrt(delta);
        const double l1 = (0.5 * (sqrt_delta - b)) / a;
        const double l2 = (0.5 * (-b - sqrt_delta)) / a;
        l = std::fabs(l1) < std::fabs(l2) ? l1 : l2;
        // Both roots behind the source: the surface lies wholly behind the ray.
        if (l1 < 0.0 && l2 < 0.0) l = NAN;
    }
    if (std::isnan(l)) {
        r_surf[0] = r_surf[1] = r_surf[2] = NAN;
        return;
    }
    r_surf[0] = u[0] * l + r[0];
    r_surf[1] = u[1] * l + r[1];
    r_surf[2] = u[2] * l + r[2];
}

// Calls nothing and raises nothing. Batch callers that hold the module's own table may
// form ray_diagGz once and call ray_first_intersection per ray: the same bits.
template <class Self>
void c_surf_pos_of_ray_first_intersection(Self* self, double* r_ray, double* u_ray,
                                          double* r_surf) noexcept {
    ray_first_intersection(self->Re, ray_diagGz(self->f), r_ray, u_ray, r_surf);
}

template <class Self>
constexpr KernelTable<Self> make_kernel_table() {
    return KernelTable<Self>{
        &c_reduced_lat_from_geodetic_lat<Self>,
        &c_geodetic_lat_from_reduced_lat<Self>,
        &surf_normal_vector<Self>,
        &surf_tangent_vector<Self>,
        &c_enu<Self>,
        &c_surf_pos_from_surf_coord<Self>,
        &c_surf_coord_from_surf_pos<Self>,
        &c_solve_reduced_lat_equation<Self>,
        &c_lla_from_pos<Self>,
        &c_pos_from_lla<Self>,
        &c_surf_pos_of_ray_first_intersection<Self>,
        &c_aer_coords<Self>,
    };
}

}  // namespace orbalis::ellipsoid
