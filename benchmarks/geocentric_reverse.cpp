// Peer timing for bench_geodetic.py: GeographicLib's Geocentric::Reverse and ::Forward on
// the same WGS-84 points, in ns/point. Reads n from argv, generates the points itself
// with the same distribution (uniform in sin(lat), lon and altitude).
#include <GeographicLib/Geocentric.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const GeographicLib::Geocentric& wgs84 = GeographicLib::Geocentric::WGS84();
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0), h(-10e3, 40000e3);
    std::vector<double> lat(n), lon(n), alt(n), x(n), y(n), z(n);
    for (std::size_t i = 0; i < n; ++i) {
        lat[i] = std::asin(u(rng)) * 180 / M_PI;
        lon[i] = u(rng) * 180;
        alt[i] = h(rng);
    }
    auto time = [&](auto&& body) {
        double best = 1e300;
        for (int round = 0; round < 3; ++round) {
            auto start = std::chrono::steady_clock::now();
            body();
            std::chrono::duration<double, std::nano> elapsed =
                std::chrono::steady_clock::now() - start;
            best = std::min(best, elapsed.count() / n);
        }
        return best;
    };
    const double forward = time([&] {
        for (std::size_t i = 0; i < n; ++i) wgs84.Forward(lat[i], lon[i], alt[i], x[i], y[i], z[i]);
    });
    double sink = 0;
    const double reverse = time([&] {
        double la, lo, al;
        for (std::size_t i = 0; i < n; ++i) {
            wgs84.Reverse(x[i], y[i], z[i], la, lo, al);
            sink += la;
        }
    });
    std::printf("%.3f %.3f %g\n", reverse, forward, sink);
    return 0;
}
