// The true-colour pictures: ray-traced and ray-marched scenes and a fractal.
#include "art.h"

namespace art {

namespace {

struct Camera {
    Vec3 origin, forward, right, up;
};

Camera lookAt(Vec3 origin, Vec3 target, double fovDegrees) {
    Camera cam;
    cam.origin = origin;
    cam.forward = normalize(target - origin);
    cam.right = normalize(cross(Vec3{0, 1, 0}, cam.forward));
    cam.up = cross(cam.forward, cam.right);
    const double scale = std::tan(fovDegrees * pi / 360.0);
    cam.right = cam.right * scale;
    cam.up = cam.up * scale;
    return cam;
}

// Ray through a point of the picture; sx, sy in pixels (fractional for supersampling).
Vec3 rayDirection(const Camera& cam, double sx, double sy) {
    const double aspect = static_cast<double>(widthPx) / heightPx;
    const double u = (sx / widthPx * 2.0 - 1.0) * aspect;
    const double v = 1.0 - sy / heightPx * 2.0;
    return normalize(cam.forward + cam.right * u + cam.up * v);
}

// Renders with an n-by-n grid of samples per pixel.
template <typename Shade> RgbCanvas render(int samples, Shade shade) {
    RgbCanvas canvas;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            Vec3 sum;
            for (int j = 0; j < samples; ++j)
                for (int i = 0; i < samples; ++i)
                    sum = sum + shade(x + (i + 0.5) / samples, y + (j + 0.5) / samples);
            canvas.set(x, y, sum * (1.0 / (samples * samples)));
        }
    return canvas;
}

// --- Spheres over a checkerboard, ray traced ------------------------------------------------

struct Sphere {
    Vec3 centre;
    double radius;
    Vec3 colour;
    double mirror;
};

const Sphere spheres[] = {{{0.0, 1.0, 4.0}, 1.0, {0.9, 0.9, 0.95}, 0.85},
                          {{-2.1, 0.62, 3.4}, 0.62, {0.85, 0.12, 0.08}, 0.15},
                          {{2.05, 0.75, 3.1}, 0.75, {0.1, 0.3, 0.9}, 0.3},
                          {{0.95, 0.32, 2.2}, 0.32, {1.0, 0.7, 0.15}, 0.5},
                          {{-0.9, 0.4, 1.9}, 0.4, {0.15, 0.75, 0.25}, 0.1},
                          {{-1.2, 0.9, 8.0}, 0.9, {0.8, 0.4, 0.9}, 0.2}};
const Vec3 sunDirection = normalize({-0.6, 0.75, -0.35});

Vec3 skyColour(Vec3 d) {
    const double up = std::max(0.0, d.y);
    Vec3 sky = mix({0.75, 0.8, 0.9}, {0.12, 0.28, 0.7}, std::pow(up, 0.6));
    const double sun = std::max(0.0, dot(d, sunDirection));
    return sky + Vec3{1.0, 0.85, 0.6} * (std::pow(sun, 200.0) * 4.0 + std::pow(sun, 8.0) * 0.25);
}

double hitSphere(const Sphere& s, Vec3 o, Vec3 d) {
    const Vec3 oc = o - s.centre;
    const double b = dot(oc, d);
    const double c = dot(oc, oc) - s.radius * s.radius;
    const double disc = b * b - c;
    if (disc < 0) return -1;
    const double root = std::sqrt(disc);
    const double t = -b - root;
    if (t > 1e-4) return t;
    const double t2 = -b + root;
    return t2 > 1e-4 ? t2 : -1;
}

bool shadowed(Vec3 p) {
    for (const Sphere& s : spheres)
        if (hitSphere(s, p, sunDirection) > 0) return true;
    return false;
}

Vec3 traceSpheres(Vec3 o, Vec3 d, int depth) {
    double best = 1e30;
    const Sphere* hit = nullptr;
    for (const Sphere& s : spheres) {
        const double t = hitSphere(s, o, d);
        if (t > 0 && t < best) {
            best = t;
            hit = &s;
        }
    }
    const double tPlane = d.y < -1e-6 ? -o.y / d.y : -1;
    if (!hit && tPlane < 0) return skyColour(d);
    Vec3 p, n, base;
    double mirror;
    bool plane = !hit || (tPlane > 0 && tPlane < best);
    if (plane) {
        best = tPlane;
        p = o + d * best;
        n = {0, 1, 0};
        const int checker =
            (static_cast<int>(std::floor(p.x)) + static_cast<int>(std::floor(p.z))) & 1;
        base = checker ? Vec3{0.9, 0.88, 0.82} : Vec3{0.08, 0.08, 0.1};
        mirror = 0.25;
    } else {
        p = o + d * best;
        n = normalize(p - hit->centre);
        base = hit->colour;
        mirror = hit->mirror;
    }
    const Vec3 lift = p + n * 1e-4;
    const double lit = shadowed(lift) ? 0.0 : std::max(0.0, dot(n, sunDirection));
    const Vec3 h = normalize(sunDirection - d);
    const double highlight = lit > 0 ? std::pow(std::max(0.0, dot(n, h)), 80.0) : 0.0;
    const double sky = 0.5 + 0.5 * n.y;
    Vec3 colour = base * (lit * 1.1 + 0.18 * sky) + Vec3{1, 0.95, 0.85} * (highlight * 1.5);
    if (depth < 4 && mirror > 0) {
        const double fresnel =
            mirror + (1 - mirror) * std::pow(1 - std::max(0.0, -dot(d, n)), 5.0) * 0.5;
        const Vec3 reflected = traceSpheres(lift, reflect(d, n), depth + 1);
        colour = mix(colour, reflected, std::min(1.0, fresnel));
    }
    if (plane) colour = mix(colour, skyColour({d.x, 0.0, d.z}), 1.0 - std::exp(-best * 0.018));
    return colour;
}

// --- Signed-distance scenes, ray marched ------------------------------------------------------

double sdTorus(Vec3 p, double major, double minor) {
    const double q = std::hypot(p.x, p.z) - major;
    return std::hypot(q, p.y) - minor;
}

Vec3 rotateX(Vec3 p, double a) {
    const double c = std::cos(a), s = std::sin(a);
    return {p.x, c * p.y - s * p.z, s * p.y + c * p.z};
}
Vec3 rotateY(Vec3 p, double a) {
    const double c = std::cos(a), s = std::sin(a);
    return {c * p.x + s * p.z, p.y, -s * p.x + c * p.z};
}
Vec3 rotateZ(Vec3 p, double a) {
    const double c = std::cos(a), s = std::sin(a);
    return {c * p.x - s * p.y, s * p.x + c * p.y, p.z};
}

struct SdfHit {
    double distance;
    int material;
};

SdfHit torusScene(Vec3 p) {
    const Vec3 a = rotateZ(rotateX(p - Vec3{-0.55, 0.0, 0.0}, 1.2), 0.25);
    const Vec3 b = rotateX(rotateZ(p - Vec3{0.55, 0.0, 0.0}, 1.35), 0.3);
    const double da = sdTorus(a, 0.9, 0.3);
    const double db = sdTorus(b, 0.9, 0.3);
    const double floorD = p.y + 1.35;
    SdfHit hit = {da, 1};
    if (db < hit.distance) hit = {db, 2};
    if (floorD < hit.distance) hit = {floorD, 0};
    return hit;
}

template <typename Scene> Vec3 sdfNormal(Scene scene, Vec3 p) {
    const double e = 1e-4;
    return normalize({scene({p.x + e, p.y, p.z}).distance - scene({p.x - e, p.y, p.z}).distance,
                      scene({p.x, p.y + e, p.z}).distance - scene({p.x, p.y - e, p.z}).distance,
                      scene({p.x, p.y, p.z + e}).distance - scene({p.x, p.y, p.z - e}).distance});
}

template <typename Scene> double softShadow(Scene scene, Vec3 p, Vec3 l, double k) {
    double result = 1.0, t = 0.02;
    for (int i = 0; i < 64 && t < 8.0; ++i) {
        const double h = scene(p + l * t).distance;
        if (h < 1e-4) return 0.0;
        result = std::min(result, k * h / t);
        t += std::clamp(h, 0.01, 0.3);
    }
    return clamp01(result);
}

template <typename Scene> double ambientOcclusion(Scene scene, Vec3 p, Vec3 n) {
    double occlusion = 0, weight = 1.0;
    for (int i = 1; i <= 5; ++i) {
        const double h = 0.04 * i;
        occlusion += weight * (h - scene(p + n * h).distance);
        weight *= 0.7;
    }
    return clamp01(1.0 - 3.0 * occlusion);
}

Vec3 torusBackdrop(Vec3 d) {
    return mix({0.02, 0.02, 0.05}, {0.16, 0.1, 0.3}, clamp01(d.y * 0.5 + 0.5));
}

// --- Terrain -------------------------------------------------------------------------------

double terrainHeight(double x, double z) {
    const double ridges = 1.0 - std::fabs(fbm(x * 0.05, z * 0.05, 4, 202u) * 2.0 - 1.0);
    return 48.0 * std::pow(fbm(x * 0.016, z * 0.016, 6, 201u), 2.2) + 4.0 * ridges - 4.0;
}

// --- Menger sponge -------------------------------------------------------------------------

double sdBox(Vec3 p, double b) {
    const Vec3 q = {std::fabs(p.x) - b, std::fabs(p.y) - b, std::fabs(p.z) - b};
    const Vec3 outside = {std::max(q.x, 0.0), std::max(q.y, 0.0), std::max(q.z, 0.0)};
    return length(outside) + std::min(std::max(q.x, std::max(q.y, q.z)), 0.0);
}

double glslMod(double x, double m) {
    return x - m * std::floor(x / m);
}

SdfHit spongeScene(Vec3 p) {
    double d = sdBox(p, 1.0);
    double s = 1.0;
    for (int m = 0; m < 4; ++m) {
        const Vec3 a = {glslMod(p.x * s, 2.0) - 1.0, glslMod(p.y * s, 2.0) - 1.0,
                        glslMod(p.z * s, 2.0) - 1.0};
        s *= 3.0;
        const Vec3 r = {std::fabs(1.0 - 3.0 * std::fabs(a.x)),
                        std::fabs(1.0 - 3.0 * std::fabs(a.y)),
                        std::fabs(1.0 - 3.0 * std::fabs(a.z))};
        const double da = std::max(r.x, r.y), db = std::max(r.y, r.z), dc = std::max(r.z, r.x);
        const double c = (std::min(da, std::min(db, dc)) - 1.0) / s;
        d = std::max(d, c);
    }
    const double floorD = p.y + 1.0;
    return floorD < d ? SdfHit{floorD, 0} : SdfHit{d, 1};
}

} // namespace

// Mirror and coloured spheres casting shadows on a checkerboard that runs to the horizon.
png::Image image06() {
    const Camera cam = lookAt({0.0, 1.35, -1.6}, {0.0, 0.75, 4.0}, 58.0);
    return rgbImage(render(3, [&](double sx, double sy) {
        return traceSpheres(cam.origin, rayDirection(cam, sx, sy), 0);
    }));
}

// Two interlocked tori, gold and silver, ray marched with soft shadows.
png::Image image09() {
    const Camera cam = lookAt({0.2, 1.4, -4.2}, {0.0, -0.1, 0.0}, 48.0);
    const Vec3 light = normalize({-0.5, 0.9, -0.4});
    return rgbImage(render(2, [&](double sx, double sy) {
        const Vec3 d = rayDirection(cam, sx, sy);
        double t = 0.0;
        SdfHit hit{1e9, -1};
        for (int i = 0; i < 160 && t < 30.0; ++i) {
            hit = torusScene(cam.origin + d * t);
            if (hit.distance < 1e-4 * (1.0 + t)) break;
            t += hit.distance;
        }
        if (t >= 30.0 || hit.distance > 1e-2) return torusBackdrop(d);
        const Vec3 p = cam.origin + d * t;
        const Vec3 n = sdfNormal(torusScene, p);
        const double shadow = softShadow(torusScene, p + n * 2e-3, light, 10.0);
        const double ao = ambientOcclusion(torusScene, p, n);
        const double diffuse = std::max(0.0, dot(n, light)) * shadow;
        if (hit.material == 0) {
            const double ring = std::fabs(std::sin(std::hypot(p.x, p.z) * 6.0));
            const Vec3 floorColour =
                mix({0.05, 0.04, 0.1}, {0.22, 0.16, 0.36}, smoothstep(0.0, 0.2, ring));
            const Vec3 c = floorColour * (diffuse * 1.3 + 0.12 * ao);
            return mix(c, torusBackdrop(d), 1.0 - std::exp(-t * 0.06));
        }
        const Vec3 tint = hit.material == 1 ? Vec3{1.0, 0.72, 0.28} : Vec3{0.8, 0.85, 0.95};
        const Vec3 r = reflect(d, n);
        const Vec3 env = mix({0.05, 0.04, 0.08}, {1.0, 0.95, 0.9}, smoothstep(-0.2, 0.8, r.y));
        const double highlight = std::pow(std::max(0.0, dot(r, light)), 60.0) * shadow;
        return tint * (diffuse * 0.55 + 0.06 * ao) + tint * env * (0.55 * ao) +
               Vec3{1, 1, 1} * highlight * 1.2;
    }));
}

// A ray-marched valley with snowy ridges, a lake and haze at the horizon.
png::Image image20() {
    const Camera cam = lookAt({0.0, 17.0, -30.0}, {6.0, 14.0, 40.0}, 60.0);
    const Vec3 sun = normalize({-0.85, 0.28, 0.5});
    const double waterLevel = 5.0;
    auto skyAt = [&](Vec3 d) {
        const double s = std::max(0.0, dot(d, sun));
        Vec3 sky = mix({0.7, 0.72, 0.74}, {0.08, 0.22, 0.6}, std::pow(clamp01(d.y * 2.5), 0.6));
        return sky + Vec3{1.0, 0.8, 0.5} * (std::pow(s, 300.0) * 6.0 + std::pow(s, 6.0) * 0.3);
    };
    auto march = [&](Vec3 o, Vec3 d, double& tOut) {
        double t = 0.5;
        for (int i = 0; i < 400 && t < 400.0; ++i) {
            const Vec3 p = o + d * t;
            const double h = p.y - terrainHeight(p.x, p.z);
            if (h < 0.002 * t) {
                tOut = t;
                return true;
            }
            t += std::max(0.02, h * 0.45);
        }
        return false;
    };
    return rgbImage(render(1, [&](double sx, double sy) {
        Vec3 o = cam.origin;
        Vec3 d = rayDirection(cam, sx, sy);
        double t = 0;
        bool hitGround = march(o, d, t);
        const double tWater = d.y < 0 ? (waterLevel - o.y) / d.y : -1.0;
        double waterT = -1;
        if (tWater > 0 && (!hitGround || tWater < t)) {
            // The lake reflects whatever is above it, slightly dimmed.
            waterT = tWater;
            o = o + d * tWater;
            d = {d.x, -d.y, d.z};
            const double ripple = 0.004 * std::sin(o.x * 2.0 + o.z * 0.7);
            d = normalize({d.x + ripple, d.y, d.z});
            hitGround = march(o, d, t);
        }
        Vec3 colour;
        if (!hitGround) {
            colour = skyAt(d);
        } else {
            const Vec3 p = o + d * t;
            const double e = 0.05;
            const Vec3 n =
                normalize({terrainHeight(p.x - e, p.z) - terrainHeight(p.x + e, p.z), 2.0 * e,
                           terrainHeight(p.x, p.z - e) - terrainHeight(p.x, p.z + e)});
            double shadow = 1.0;
            double st = 0.3;
            for (int i = 0; i < 60 && st < 80.0; ++i) {
                const Vec3 q = p + sun * st;
                const double h = q.y - terrainHeight(q.x, q.z);
                if (h < 0) {
                    shadow = 0.0;
                    break;
                }
                shadow = std::min(shadow, 8.0 * h / st);
                st += std::max(0.2, h * 0.5);
            }
            shadow = clamp01(shadow);
            const double slope = n.y;
            Vec3 ground = mix({0.3, 0.25, 0.2}, {0.1, 0.26, 0.05}, smoothstep(0.7, 0.9, slope));
            const double snowLine = 14.0 + 3.0 * (fbm(p.x * 0.2, p.z * 0.2, 3, 7u) - 0.5);
            ground = mix(ground, {0.95, 0.96, 1.0},
                         smoothstep(snowLine, snowLine + 1.5, p.y) * smoothstep(0.55, 0.75, slope));
            const double diffuse = std::max(0.0, dot(n, sun)) * shadow;
            colour = ground *
                     (Vec3{1.4, 1.35, 1.25} * diffuse + Vec3{0.12, 0.16, 0.24} * (0.5 + 0.5 * n.y));
            const double fogAmount = 1.0 - std::exp(-t * 0.007);
            colour = mix(colour, Vec3{0.66, 0.69, 0.72}, fogAmount);
        }
        if (waterT > 0) {
            colour = mix(colour * Vec3{0.55, 0.65, 0.75}, Vec3{0.8, 0.76, 0.72},
                         1.0 - std::exp(-waterT * 0.012));
        }
        return colour;
    }));
}

// The Mandelbrot set's seahorse valley in smooth escape-time colour.
png::Image image21() {
    const double centreX = -0.7453, centreY = 0.1127, span = 0.0125;
    return rgbImage(render(2, [&](double sx, double sy) {
        const double cx = centreX + (sx / widthPx - 0.5) * span;
        const double cy = centreY + (sy / heightPx - 0.5) * span * heightPx / widthPx;
        double zx = 0, zy = 0;
        int i = 0;
        const int maxIterations = 700;
        for (; i < maxIterations && zx * zx + zy * zy < 256.0; ++i) {
            const double nx = zx * zx - zy * zy + cx;
            zy = 2.0 * zx * zy + cy;
            zx = nx;
        }
        if (i == maxIterations) return Vec3{0.0, 0.0, 0.0};
        const double smooth = i + 1.0 - std::log2(std::log2(zx * zx + zy * zy) * 0.5);
        // A cycle of midnight blue, sky blue, white, amber and near-black, stretched
        // logarithmically so the bands stay even from the rim to the depths.
        static const Vec3 keys[] = {{0.0, 0.01, 0.15},
                                    {0.02, 0.16, 0.6},
                                    {0.85, 1.0, 1.0},
                                    {1.0, 0.42, 0.0},
                                    {0.02, 0.0, 0.02}};
        const double t = fract(std::log(smooth + 1.0) * 0.9) * 5.0;
        const int k = static_cast<int>(t);
        const double f = smoothstep(0.0, 1.0, t - k);
        return mix(keys[k], keys[(k + 1) % 5], f);
    }));
}

// A Menger sponge, its holes lit by a low sun and darkened by occlusion.
png::Image image22() {
    const Camera cam = lookAt({2.6, 1.9, -2.9}, {0.0, -0.1, 0.0}, 50.0);
    const Vec3 light = normalize({0.25, 0.9, -0.55});
    auto spongeRotated = [](Vec3 p) { return spongeScene(rotateY(p, 0.35)); };
    return rgbImage(render(2, [&](double sx, double sy) {
        const Vec3 d = rayDirection(cam, sx, sy);
        const Vec3 backdrop =
            mix({0.55, 0.2, 0.3}, {0.04, 0.02, 0.12}, smoothstep(-0.3, 0.05, d.y));
        double t = 0.0;
        SdfHit hit{1e9, -1};
        int steps = 0;
        for (; steps < 200 && t < 20.0; ++steps) {
            hit = spongeRotated(cam.origin + d * t);
            if (hit.distance < 2e-4) break;
            t += hit.distance;
        }
        if (t >= 20.0 || hit.distance > 1e-2) return backdrop;
        const Vec3 p = cam.origin + d * t;
        const Vec3 n = sdfNormal(spongeRotated, p);
        const double shadow = softShadow(spongeRotated, p + n * 1e-3, light, 16.0);
        const double ao = ambientOcclusion(spongeRotated, p, n);
        const double diffuse = std::max(0.0, dot(n, light)) * shadow;
        Vec3 base = {0.9, 0.82, 0.7};
        if (hit.material == 0) {
            const int tile = (static_cast<int>(std::floor(p.x * 2.0)) +
                              static_cast<int>(std::floor(p.z * 2.0))) &
                             1;
            base = tile ? Vec3{0.3, 0.12, 0.2} : Vec3{0.12, 0.05, 0.1};
        }
        if (hit.material == 1) base = base * (0.8 + 0.2 * std::fabs(n.x) + 0.1 * std::fabs(n.z));
        Vec3 c = base * (Vec3{1.35, 1.1, 0.85} * diffuse + Vec3{0.16, 0.16, 0.3} * ao);
        return mix(c, backdrop, 1.0 - std::exp(-std::max(0.0, t - 3.0) * 0.15));
    }));
}

} // namespace art
