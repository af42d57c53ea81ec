// 3-vector kernels and the array view record of the lingeom module.
//
// This is the chief header for native modules that use lingeom's kernels. The scalar
// kernels are plain inline functions with no Python dependency: they read and write
// exactly three doubles, allocate nothing and evaluate every sum left to right as
// bracketed, one IEEE operation at a time. Other extension modules do not link against
// lingeom; they take the kernels' entry points from the capsules of its `__pyx_capi__`
// dict, whose names are the signature strings below, and call them through the pointer
// types declared here.
#pragma once

#include <cmath>
#include <cstddef>

namespace orbalis::lingeom {

// A strided view of an n-dimensional array, passed and returned by value by the array
// kernels. `owner` is the Python object that keeps the memory alive (a NumPy array); a
// returned record holds one reference to it, and a null owner means failure with a
// Python exception pending.
struct ArrayView {
    void* owner;
    char* data;
    std::ptrdiff_t shape[8];
    std::ptrdiff_t strides[8];
    std::ptrdiff_t suboffsets[8];
};

// Entry-point types and their capsule names (the signature strings importers compare).
using ScaleFn = void (*)(const double, double*, double*);
using BinaryFn = void (*)(double*, double*, double*);
using DotFn = double (*)(double*, double*);
using NormFn = double (*)(double*);
using NormalizeFn = void (*)(double*, double*);
using ArrayFn = ArrayView (*)(ArrayView);

inline constexpr const char* kScaleSignature = "void (double const , double *, double *)";
inline constexpr const char* kBinarySignature = "void (double *, double *, double *)";
inline constexpr const char* kDotSignature = "double (double *, double *)";
inline constexpr const char* kNormSignature = "double (double *)";
inline constexpr const char* kNormalizeSignature = "void (double *, double *)";
inline constexpr const char* kArraySignature = "__Pyx_memviewslice (__Pyx_memviewslice)";

// The output may alias an input in scale, add, sub, normalize and cross: every
// output element is written only after all the inputs it depends on were read.

inline void scale(const double scalar, double* a, double* c) noexcept {
    c[0] = a[0] * scalar;
    c[1] = a[1] * scalar;
    c[2] = a[2] * scalar;
}

inline void add(double* a, double* b, double* c) noexcept {
    c[0] = a[0] + b[0];
    c[1] = a[1] + b[1];
    c[2] = a[2] + b[2];
}

inline void sub(double* a, double* b, double* c) noexcept {
    c[0] = a[0] - b[0];
    c[1] = a[1] - b[1];
    c[2] = a[2] - b[2];
}

inline double dot(double* a, double* b) noexcept {
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

inline void cross(double* a, double* b, double* c) noexcept {
    // All three components are formed before any is stored, so c may alias a or b.
    const double c0 = a[1] * b[2] - a[2] * b[1];
    const double c1 = a[2] * b[0] - a[0] * b[2];
    const double c2 = a[0] * b[1] - a[1] * b[0];
    c[0] = c0;
    c[1] = c1;
    c[2] = c2;
}

// No rescaling: components near 1e154 or above overflow to +inf, tiny ones underflow.
inline double norm(double* a) noexcept {
    return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]);
}

// One reciprocal, three products; a zero vector gives NaNs (0 * inf).
inline void normalize(double* a, double* u) noexcept {
    const double k = 1.0 / norm(a);
    u[0] = a[0] * k;
    u[1] = a[1] * k;
    u[2] = a[2] * k;
}

// The quotient is clamped into [-1, 1] before acos: rounding can push the cosine of
// parallel vectors to 1.0000000000000002, which would give NaN. NaN (a zero vector)
// stays NaN because neither comparison holds for it.
inline double angle(double* a, double* b) noexcept {
    double q = (dot(a, b) / norm(a)) / norm(b);
    if (q > 1.0) q = 1.0;
    if (q < -1.0) q = -1.0;
    return std::acos(q);
}

}  // namespace orbalis::lingeom
