// The Python-level methods of Ellipsoid, defined beside their implementations and
// attached to the type when the module is imported.
#pragma once

#include "method.hpp"

namespace orbalis::ellipsoid {

// Latitudes, surface points and geodetic positions (geodetic_methods.cpp).
extern const py::AnnotatedMethodDef kReducedLatFromGeodeticLat;
extern const py::AnnotatedMethodDef kGeodeticLatFromReducedLat;
extern const py::AnnotatedMethodDef kSurfPosFromSurfCoord;
extern const py::AnnotatedMethodDef kSurfCoordFromSurfPos;
extern const py::AnnotatedMethodDef kSolveReducedLatEquation;
extern const py::AnnotatedMethodDef kLlaFromPos;
extern const py::AnnotatedMethodDef kPosFromLla;

// Local ENU frame, azimuth-elevation-range and ray intersection (observation_methods.cpp).
extern const py::AnnotatedMethodDef kEnu;
extern const py::AnnotatedMethodDef kSurfPosOfRayFirstIntersection;
extern const py::AnnotatedMethodDef kAerCoords;

}  // namespace orbalis::ellipsoid
