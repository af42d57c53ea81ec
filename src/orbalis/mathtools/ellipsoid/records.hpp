// The fixed-layout geodetic records exchanged between the Ellipsoid kernels and the
// NumPy structured arrays of orbalis.datamodel. All fields are native-endian IEEE doubles
// with no padding; the sizes below are what the record dtypes must match.
#pragma once

namespace orbalis::ellipsoid {

struct SurfCoord {
    double lat;  // geodetic latitude, radians
    double lon;  // longitude, radians
};

struct __attribute__((packed)) LLA {
    double lat;  // geodetic latitude, radians
    double lon;  // longitude, radians
    double alt;  // height above the ellipsoid along the normal, unit of Re
};

struct __attribute__((packed)) ENU_Frame {
    double u_east[3];
    double u_north[3];
    double u_up[3];  // outward surface normal
};

struct __attribute__((packed)) AER {
    double azimuth;    // radians from north towards east, in (-pi, pi]
    double elevation;  // radians, in [-pi/2, pi/2]
    double range;      // slant range, unit of Re
};

static_assert(sizeof(SurfCoord) == 16 && sizeof(LLA) == 24);
static_assert(sizeof(ENU_Frame) == 72 && sizeof(AER) == 24);

}  // namespace orbalis::ellipsoid
