// The robot figure's three assets, generated from a small solid model.
//
// The figure is a set of smooth solids (capsules and superellipsoids: spheres,
// ellipsoids and rounded boxes) seen from the front. Each solid is symmetric
// about its own depth plane, so its outline and its front surface have closed
// forms; the visible surface at a point is the front of the nearest solid (the
// largest height), which makes the figure a height field with true occlusion
// between parts. Normals come from the gradient of the winning solid's
// implicit function, so they are exact unit normals that turn sideways at the
// outline. Every pixel is supersampled 4 x 4: coverage, normal, base colour,
// reflection strength and emitted light are averages over the covered
// subsamples. Pixels just outside the outline then take the values of their
// covered neighbours, so bilinear lookups at partial coverage never mix in a
// meaningless normal.
//
// robo.png            16-bit RGBA: normal as (n + 1) / 2, x right, y down, z
//                     towards the viewer; coverage in alpha.
// robo_material.png   16-bit RGBA: base colour; reflection strength in alpha.
// robo_emissive.png   16-bit RGB: emitted light.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets.hpp"
#include "core/parallel.hpp"
#include "png16.hpp"

namespace neonvale::assets {

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 1536;
constexpr int kSubsamples = 4;  // per axis

struct Vec3 {
  double x, y, z;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 normalized(Vec3 a) {
  const double l = std::sqrt(dot(a, a));
  return l > 0.0 ? (1.0 / l) * a : Vec3{0.0, 0.0, 1.0};
}

double clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
double smoothstep(double e0, double e1, double v) {
  const double t = clamp01((v - e0) / (e1 - e0));
  return t * t * (3.0 - 2.0 * t);
}
// 1 inside |v| < half, falling smoothly to 0 over `soft` outside it.
double band(double v, double half, double soft) { return 1.0 - smoothstep(half, half + soft, std::fabs(v)); }

// What a surface point is made of.
enum class Part {
  kDarkMetal,   // the body
  kPanel,       // lighter glossy plates
  kJoint,       // rubbery joints, barely reflective
  kAccent,      // orange trim
  kVisor,       // dark glass with a glowing band
  kLamp,        // small glowing domes
};

// Reflection strength runs from `facing` x `reflect` where the surface faces
// the viewer to `reflect` where it turns away, as on polished metal, so the
// body reads dark and solid with bright, mirroring edges.
struct Shading {
  Vec3 base;
  double reflect;
  double facing;
  Vec3 glow;
};

enum class Kind { kCapsule, kSuper };

// One solid. Capsule: the segment (ax, ay)-(bx, by) in the plane z = zc,
// radius r. Superellipsoid: centre (ax, ay, zc), half sizes a, b, c, exponent
// p (2 is an ellipsoid, larger is boxier), turned by `angle` in the picture
// plane, its half width scaled by (1 + taper * Y) down its height.
struct Solid {
  Kind kind;
  Part part;
  double ax, ay, bx, by;
  double r;
  double a, b, c, p, angle, taper;
  double zc;
  int detail;  // selects the surface pattern of this solid (0 none)
};

Solid capsule(double ax, double ay, double bx, double by, double r, double zc, Part part, int detail = 0) {
  return {Kind::kCapsule, part, ax, ay, bx, by, r, 0, 0, 0, 0, 0, 0, zc, detail};
}

Solid super(double cx, double cy, double a, double b, double c, double p, double zc, Part part, int detail = 0,
            double angle = 0.0, double taper = 0.0) {
  return {Kind::kSuper, part, cx, cy, 0, 0, 0, a, b, c, p, angle, taper, zc, detail};
}

// Where a point lies relative to a solid: for a capsule, along the axis (0 to
// 1) and across it in radii (-1 to 1); for a superellipsoid, `along` is its
// normalised X (across the picture) and `across` its Y (down the picture),
// both -1 to 1 inside.
struct Local {
  double along, across;
};

struct Hit {
  double z;
  Local local;
};

// Local frame of a superellipsoid: X and Y in -1..1 inside.
void super_local(const Solid& s, double x, double y, double* X, double* Y) {
  const double dx = x - s.ax, dy = y - s.ay;
  const double ca = std::cos(s.angle), sa = std::sin(s.angle);
  const double lx = ca * dx + sa * dy;
  const double ly = -sa * dx + ca * dy;
  *Y = ly / s.b;
  *X = lx / (s.a * (1.0 + s.taper * *Y));
}

void capsule_local(const Solid& s, double x, double y, double* t, double* d2, double* across) {
  const double ex = s.bx - s.ax, ey = s.by - s.ay;
  const double len2 = ex * ex + ey * ey;
  double tt = len2 > 0.0 ? ((x - s.ax) * ex + (y - s.ay) * ey) / len2 : 0.0;
  tt = tt < 0.0 ? 0.0 : (tt > 1.0 ? 1.0 : tt);
  const double qx = x - (s.ax + tt * ex), qy = y - (s.ay + tt * ey);
  *t = tt;
  *d2 = qx * qx + qy * qy;
  const double len = std::sqrt(len2);
  // Distance across the axis in radii; for a segment pointing down the
  // picture it grows to the right.
  *across = len > 0.0 ? ((x - s.ax) * ey - (y - s.ay) * ex) / len / s.r : 0.0;
}

// The front surface of a solid at (x, y), if the point lies inside its outline.
bool front(const Solid& s, double x, double y, Hit* hit) {
  if (s.kind == Kind::kCapsule) {
    double t, d2, across;
    capsule_local(s, x, y, &t, &d2, &across);
    if (d2 >= s.r * s.r) return false;
    hit->z = s.zc + std::sqrt(s.r * s.r - d2);
    hit->local = {t, across};
    return true;
  }
  double X, Y;
  super_local(s, x, y, &X, &Y);
  const double sum = std::pow(std::fabs(X), s.p) + std::pow(std::fabs(Y), s.p);
  if (sum >= 1.0) return false;
  hit->z = s.zc + s.c * std::pow(1.0 - sum, 1.0 / s.p);
  hit->local = {X, Y};
  return true;
}

// Implicit function of the solid (negative inside); its gradient is the normal.
double implicit(const Solid& s, double x, double y, double z) {
  if (s.kind == Kind::kCapsule) {
    double t, d2, across;
    capsule_local(s, x, y, &t, &d2, &across);
    const double dz = z - s.zc;
    return std::sqrt(d2 + dz * dz) - s.r;
  }
  double X, Y;
  super_local(s, x, y, &X, &Y);
  const double Z = (z - s.zc) / s.c;
  return std::pow(std::fabs(X), s.p) + std::pow(std::fabs(Y), s.p) + std::pow(std::fabs(Z), s.p) - 1.0;
}

Vec3 surface_normal(const Solid& s, double x, double y, double z) {
  const double e = 1e-3;
  const Vec3 g{implicit(s, x + e, y, z) - implicit(s, x - e, y, z), implicit(s, x, y + e, z) - implicit(s, x, y - e, z),
               implicit(s, x, y, z + e) - implicit(s, x, y, z - e)};
  return normalized(g);
}

// Rough bounds of a solid's outline, for skipping it quickly.
struct Box {
  double x0, y0, x1, y1;
};

Box bounds(const Solid& s) {
  if (s.kind == Kind::kCapsule)
    return {std::min(s.ax, s.bx) - s.r, std::min(s.ay, s.by) - s.r, std::max(s.ax, s.bx) + s.r,
            std::max(s.ay, s.by) + s.r};
  const double reach = std::max(s.a * (1.0 + std::fabs(s.taper)), s.b) * 1.5;
  return {s.ax - reach, s.ay - reach, s.ax + reach, s.ay + reach};
}

// Colours of the figure, in linear light. The shading adds the base colour
// twice and the emitted light 24 times, so both stay small.
const Vec3 kDark{0.010, 0.011, 0.014};
const Vec3 kPanel{0.048, 0.052, 0.060};
const Vec3 kJointColour{0.004, 0.004, 0.005};
const Vec3 kAccentColour{0.160, 0.050, 0.008};
const Vec3 kGlass{0.002, 0.003, 0.005};
const Vec3 kCyanGlow{0.012, 0.075, 0.105};
const Vec3 kMagentaGlow{0.100, 0.012, 0.075};

Vec3 mix(Vec3 a, Vec3 b, double t) { return (1.0 - t) * a + t * b; }

// The surface pattern of a solid at a point: panel seams, trim and neon.
Shading shade(const Solid& s, const Local& l, double x) {
  Shading out{kDark, 0.9, 0.06, {0, 0, 0}};
  switch (s.part) {
    case Part::kDarkMetal: out = {kDark, 0.9, 0.06, {0, 0, 0}}; break;
    case Part::kPanel: out = {kPanel, 0.85, 0.13, {0, 0, 0}}; break;
    case Part::kJoint: out = {kJointColour, 0.18, 0.30, {0, 0, 0}}; break;
    case Part::kAccent: out = {kAccentColour, 0.6, 0.15, {0, 0, 0}}; break;
    case Part::kVisor: {
      out = {kGlass, 0.9, 0.15, {0, 0, 0}};
      // A glowing band across the glass, brightest in the middle.
      const double g = band(l.across - 0.05, 0.10, 0.16) * band(l.along, 0.72, 0.14);
      out.glow = (g * (0.75 + 0.25 * (1.0 - l.along * l.along))) * kCyanGlow;
      break;
    }
    case Part::kLamp: {
      const double rr = l.along * l.along + l.across * l.across;
      out = {kGlass, 0.6, 0.5, (0.55 + 0.45 * (1.0 - rr)) * (s.detail == 1 ? kMagentaGlow : kCyanGlow)};
      return out;
    }
  }
  switch (s.detail) {
    case 1: {  // torso: centre seam, orange trim at the flanks, magenta strips
      const double seam = band(l.along, 0.012, 0.01) * smoothstep(0.2, 0.35, l.across);
      out.base = mix(out.base, kJointColour, seam);
      out.reflect = out.reflect * (1.0 - 0.7 * seam);
      const double trim = band(std::fabs(l.along) - 0.80, 0.035, 0.015) * band(l.across + 0.25, 0.35, 0.05);
      out.base = mix(out.base, kAccentColour, trim);
      const double strip = band(std::fabs(l.along) - 0.70, 0.012, 0.010) * band(l.across - 0.55, 0.18, 0.04);
      out.glow = out.glow + (0.7 * strip) * kMagentaGlow;
      break;
    }
    case 2: {  // chest plate: a recessed grille under the lamp
      const double grille = band(l.across - 0.55, 0.22, 0.03) * band(l.along, 0.55, 0.03) *
                            (0.5 + 0.5 * std::cos(l.across * 60.0));
      out.base = mix(out.base, kDark, grille);
      break;
    }
    case 3: {  // forearms and shins: a neon strip along the outer side
      const double side = x < kWidth * 0.5 ? -1.0 : 1.0;
      // l.across grows to the figure's right; the strip runs on the outer flank.
      const double strip = band(l.across * side - 0.50, 0.05, 0.04) * band(l.along - 0.5, 0.38, 0.06);
      out.glow = out.glow + (0.8 * strip) * kCyanGlow;
      const double cuff = band(l.along - 0.08, 0.04, 0.015);
      out.base = mix(out.base, kAccentColour, cuff);
      break;
    }
    case 4: {  // shoulders: an orange stripe over the top
      const double stripe = band(l.along, 0.14, 0.03) * smoothstep(0.1, -0.2, l.across);
      out.base = mix(out.base, kAccentColour, stripe);
      break;
    }
    case 5: {  // helmet: a dark seam band around the crown
      const double seam = band(l.across + 0.62, 0.015, 0.012);
      out.base = mix(out.base, kJointColour, seam);
      out.reflect = out.reflect * (1.0 - 0.6 * seam);
      break;
    }
    case 6: {  // ribbed belly segments: grooves at their rims
      const double groove = smoothstep(0.55, 0.85, std::fabs(l.across));
      out.reflect = out.reflect * (1.0 - 0.5 * groove);
      break;
    }
    case 7: {  // pelvis: an orange belt line
      const double belt = band(l.across + 0.1, 0.16, 0.04);
      out.base = mix(out.base, kAccentColour, belt);
      break;
    }
    default: break;
  }
  return out;
}

// The figure, built on a 1024 x 1536 canvas (x right, y down, z towards the
// viewer, all in canvas pixels). The left half is listed; the right half is
// its mirror image.
std::vector<Solid> build_figure() {
  std::vector<Solid> side;
  // Arm: shoulder, upper arm, elbow, forearm, wrist, hand.
  side.push_back(super(296, 440, 86, 80, 84, 2.3, 24, Part::kPanel, 4, 0.0));
  side.push_back(capsule(284, 480, 262, 690, 47, 0, Part::kDarkMetal));
  side.push_back(super(260, 706, 52, 48, 52, 2.2, 2, Part::kJoint));
  side.push_back(capsule(258, 735, 248, 895, 58, 6, Part::kPanel, 3));
  side.push_back(super(248, 930, 40, 30, 40, 2.2, 0, Part::kJoint));
  side.push_back(super(246, 995, 52, 64, 46, 2.6, 4, Part::kDarkMetal, 0, 0.06));
  // Leg: hip, thigh, knee, shin, ankle, foot.
  side.push_back(super(440, 958, 56, 52, 56, 2.2, 0, Part::kJoint));
  side.push_back(capsule(440, 985, 432, 1170, 72, 0, Part::kDarkMetal));
  side.push_back(super(434, 1070, 50, 82, 40, 3.0, 48, Part::kPanel));
  side.push_back(super(430, 1200, 60, 50, 62, 2.6, 12, Part::kAccent));
  side.push_back(capsule(428, 1235, 424, 1400, 64, 4, Part::kPanel, 3));
  side.push_back(super(424, 1428, 42, 30, 42, 2.2, 0, Part::kJoint));
  side.push_back(super(414, 1474, 108, 42, 92, 3.0, 8, Part::kDarkMetal, 0, 0.0, 0.10));
  // Head: ear pod and antenna on this side only.
  side.push_back(super(364, 218, 30, 58, 62, 2.5, 0, Part::kJoint));
  side.push_back(super(350, 218, 12, 26, 20, 2.2, 44, Part::kLamp));

  std::vector<Solid> solids;
  for (const Solid& s : side) solids.push_back(s);
  for (Solid s : side) {
    s.ax = kWidth - s.ax;
    s.bx = kWidth - s.bx;
    s.angle = -s.angle;
    solids.push_back(s);
  }
  // Centre line: head, visor, antenna, neck, torso, chest, belly, pelvis.
  solids.push_back(super(512, 218, 150, 152, 122, 2.4, 0, Part::kPanel, 5));
  solids.push_back(super(512, 232, 124, 50, 48, 3.6, 82, Part::kVisor));
  solids.push_back(capsule(468, 84, 448, 26, 7, 0, Part::kJoint));
  solids.push_back(super(447, 22, 13, 13, 13, 2.0, 0, Part::kLamp));
  solids.push_back(capsule(512, 360, 512, 410, 50, 0, Part::kJoint));
  solids.push_back(super(512, 575, 196, 205, 132, 3.0, 0, Part::kDarkMetal, 1, 0.0, -0.16));
  solids.push_back(super(512, 530, 138, 100, 60, 3.6, 84, Part::kPanel, 2));
  solids.push_back(super(512, 500, 34, 34, 26, 2.0, 122, Part::kLamp, 1));
  solids.push_back(super(512, 778, 150, 36, 104, 3.0, 0, Part::kDarkMetal, 6));
  solids.push_back(super(512, 842, 142, 34, 100, 3.0, 0, Part::kDarkMetal, 6));
  solids.push_back(super(512, 915, 178, 60, 112, 3.4, 0, Part::kDarkMetal, 7));
  return solids;
}

struct Pixel {
  double coverage = 0.0;
  Vec3 normal{0, 0, 0};
  Vec3 base{0, 0, 0};
  double reflect = 0.0;
  Vec3 glow{0, 0, 0};
};

// The nearest solid's surface at one subsample, if any solid covers it.
bool trace(const std::vector<Solid>& solids, const std::vector<Box>& boxes, double x, double y, Pixel* out) {
  int best = -1;
  Hit best_hit{};
  for (std::size_t i = 0; i < solids.size(); ++i) {
    const Box& b = boxes[i];
    if (x < b.x0 || x > b.x1 || y < b.y0 || y > b.y1) continue;
    Hit hit;
    if (front(solids[i], x, y, &hit) && (best < 0 || hit.z > best_hit.z)) {
      best = int(i);
      best_hit = hit;
    }
  }
  if (best < 0) return false;
  const Solid& s = solids[std::size_t(best)];
  const Vec3 n = surface_normal(s, x, y, best_hit.z);
  const Shading sh = shade(s, best_hit.local, x);
  const double turned = (1.0 - n.z) * (1.0 - n.z);
  out->normal = n;
  out->base = sh.base;
  out->reflect = sh.reflect * (sh.facing + (1.0 - sh.facing) * turned);
  out->glow = sh.glow;
  return true;
}

std::vector<Pixel> render_figure() {
  const std::vector<Solid> solids = build_figure();
  std::vector<Box> boxes;
  for (const Solid& s : solids) boxes.push_back(bounds(s));
  std::vector<Pixel> pixels(std::size_t(kWidth) * kHeight);
  const double step = 1.0 / kSubsamples;
  const double weight = 1.0 / (kSubsamples * kSubsamples);
  // Rows are independent, so the split between threads cannot change a value.
  parallel_for(kHeight, [&](int begin, int end) {
  for (int py = begin; py < end; ++py) {
    for (int px = 0; px < kWidth; ++px) {
      Pixel sum;
      int covered = 0;
      for (int sy = 0; sy < kSubsamples; ++sy)
        for (int sx = 0; sx < kSubsamples; ++sx) {
          Pixel sub;
          if (!trace(solids, boxes, px + (sx + 0.5) * step, py + (sy + 0.5) * step, &sub)) continue;
          ++covered;
          sum.normal = sum.normal + sub.normal;
          sum.base = sum.base + sub.base;
          sum.reflect += sub.reflect;
          sum.glow = sum.glow + sub.glow;
        }
      Pixel& p = pixels[std::size_t(py) * kWidth + std::size_t(px)];
      if (covered == 0) continue;
      const double inv = 1.0 / covered;
      p.coverage = covered * weight;
      p.normal = normalized(sum.normal);
      p.base = inv * sum.base;
      p.reflect = inv * sum.reflect;
      p.glow = inv * sum.glow;
    }
  }
  });
  return pixels;
}

// Spreads the values of covered pixels a few pixels outwards (coverage stays
// 0), so that interpolating across the outline blends sensible normals and
// colours. The rest of the background faces the viewer.
void extend_outline(std::vector<Pixel>& pixels, int passes) {
  std::vector<char> known(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) known[i] = pixels[i].coverage > 0.0;
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<Pixel> next = pixels;
    std::vector<char> next_known = known;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const std::size_t i = std::size_t(y) * kWidth + std::size_t(x);
        if (known[i]) continue;
        Pixel sum;
        int count = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= kWidth || ny >= kHeight) continue;
            const std::size_t j = std::size_t(ny) * kWidth + std::size_t(nx);
            if (!known[j]) continue;
            ++count;
            sum.normal = sum.normal + pixels[j].normal;
            sum.base = sum.base + pixels[j].base;
            sum.reflect += pixels[j].reflect;
            sum.glow = sum.glow + pixels[j].glow;
          }
        if (count == 0) continue;
        const double inv = 1.0 / count;
        Pixel& p = next[i];
        p.normal = normalized(sum.normal);
        p.base = inv * sum.base;
        p.reflect = inv * sum.reflect;
        p.glow = inv * sum.glow;
        next_known[i] = 1;
      }
    pixels.swap(next);
    known.swap(next_known);
  }
  for (std::size_t i = 0; i < pixels.size(); ++i)
    if (!known[i]) {
      pixels[i].normal = {0, 0, 1};
      pixels[i].base = kDark;
      pixels[i].reflect = 0.75;
    }
}

}  // namespace

void write_robot_assets(const std::filesystem::path& folder) {
  std::vector<Pixel> pixels = render_figure();
  extend_outline(pixels, 6);

  const std::size_t n = pixels.size();
  std::vector<double> robo(n * 4), material(n * 4), emissive(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    const Pixel& p = pixels[i];
    robo[4 * i + 0] = (p.normal.x + 1.0) * 0.5;
    robo[4 * i + 1] = (p.normal.y + 1.0) * 0.5;
    robo[4 * i + 2] = (p.normal.z + 1.0) * 0.5;
    robo[4 * i + 3] = p.coverage;
    material[4 * i + 0] = p.base.x;
    material[4 * i + 1] = p.base.y;
    material[4 * i + 2] = p.base.z;
    material[4 * i + 3] = p.reflect;
    emissive[3 * i + 0] = p.glow.x;
    emissive[3 * i + 1] = p.glow.y;
    emissive[3 * i + 2] = p.glow.z;
  }
  save_png16(robo, kWidth, kHeight, 4, folder / "robo.png", 9);
  save_png16(material, kWidth, kHeight, 4, folder / "robo_material.png", 9);
  save_png16(emissive, kWidth, kHeight, 3, folder / "robo_emissive.png", 9);
}

}  // namespace neonvale::assets
