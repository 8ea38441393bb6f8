#pragma once
// The scene buffer's channel layout, shared by every pass.
namespace neonvale {

constexpr int kRed = 0;
constexpr int kGreen = 1;
constexpr int kBlue = 2;
constexpr int kDepth = 3;         // distance from the viewer; larger is farther
constexpr int kEmission = 4;      // how strongly the pixel feeds the glow
constexpr int kUnused = 5;        // never written or read
constexpr int kOffsetX = 6;       // refraction offset of lens water, scene pixels
constexpr int kOffsetY = 7;
constexpr int kWater = 8;         // coverage of all lens water, 0..1
constexpr int kRobot = 9;         // robot figure coverage, 0..1
constexpr int kReflectivity = 10; // wetness; 0 is not reflective
constexpr int kDrop = 11;         // coverage of the drops alone, 0..1
constexpr int kSceneChannels = 12;

constexpr float kSkyDepth = 1000.0f;

}  // namespace neonvale
