// Adjustment layers: their parameters as read from the layer's tagged block,
// and the colour change each one makes.
//
// An adjustment layer carries its settings in one tagged block whose key
// names the kind ("levl", "curv", "hue2", ...). parseAdjustment turns that
// block into an Adjustment; applyAdjustment changes the colour of straight-
// alpha 8-bit pixels the way Photoshop does, leaving alpha alone. Where the
// adjustment is per channel the curve is defined on [0, 1] and sampled into
// 256-entry tables, so a 16-bit path can sample the same curve finer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::psd {

enum class AdjustmentKind : uint8_t {
  kUnknown,             // colour lookup ("clrL") and keys Korvex does not draw
  kLevels,              // "levl"
  kCurves,              // "curv"
  kBrightnessContrast,  // "brit", refined by "CgEd"
  kHueSaturation,       // "hue2", and "hue " from old files
  kColorBalance,        // "blnc"
  kExposure,            // "expA"
  kVibrance,            // "vibA"
  kBlackWhite,          // "blwh"
  kPhotoFilter,         // "phfl"
  kChannelMixer,        // "mixr"
  kInvert,              // "nvrt"
  kPosterize,           // "post"
  kThreshold,           // "thrs"
  kSelectiveColor,      // "selc"
};

// One input -> output mapping of levels: inputs outside [inBlack, inWhite]
// clip, the rest is raised to 1/gamma and spread over [outBlack, outWhite]
// (outBlack may exceed outWhite, which inverts).
struct LevelsChannel {
  uint16_t inBlack = 0, inWhite = 255, outBlack = 0, outWhite = 255;
  double gamma = 1.0;
};

// A curve point, both values 0..255.
struct CurvePoint {
  uint8_t input = 0, output = 0;
};

// A hue range of hue/saturation, in degrees: full effect between the two
// sustain values, fading out linearly to the ramp ends. beginRamp may be
// larger than endRamp (the reds wrap past 0).
struct HueRange {
  int16_t beginRamp = 0, beginSustain = 0, endSustain = 0, endRamp = 0;
  int16_t hue = 0, saturation = 0, lightness = 0;  // -180..180, -100..100, -100..100
};

struct Adjustment {
  AdjustmentKind kind = AdjustmentKind::kUnknown;
  std::string key;  // the block key as stored

  // Levels and curves: [0] all colour channels, [1..3] red, green, blue.
  // Each channel's own mapping comes first, then the composite one.
  std::array<LevelsChannel, 4> levels;
  std::array<std::vector<CurvePoint>, 4> curves;  // empty: unchanged

  // Brightness/contrast: -150..150 and -50..100 (legacy: -100..100 both).
  int16_t brightness = 0, contrast = 0;
  bool legacy = true;  // "brit" alone is the old linear kind; "CgEd" says which

  // Hue/saturation. Colorize sets every pixel's hue and saturation.
  bool colorize = false;
  int16_t colorizeHue = 0, colorizeSaturation = 25, colorizeLightness = 0;  // 0..360, 0..100, -100..100
  int16_t masterHue = 0, masterSaturation = 0, masterLightness = 0;
  std::array<HueRange, 6> ranges{};  // reds, yellows, greens, cyans, blues, magentas

  // Colour balance: [shadows, midtones, highlights][cyan-red, magenta-green,
  // yellow-blue], each -100..100. Also the photo filter's flag.
  std::array<std::array<int16_t, 3>, 3> balance{};
  bool preserveLuminosity = false;

  // Exposure.
  float exposure = 0, offset = 0, gamma = 1;

  // Vibrance: both -100..100.
  int32_t vibrance = 0, saturation = 0;

  // Black & white: weights in percent of reds, yellows, greens, cyans,
  // blues, magentas (-200..300); the grey is tinted when useTint is set.
  std::array<int32_t, 6> grayWeights{{40, 60, 40, 60, 20, 80}};
  bool useTint = false;
  uint32_t tintColor = 0;  // 0x00RRGGBB

  // Photo filter: the filter colour and its density in percent.
  uint32_t filterColor = 0;  // 0x00RRGGBB
  int32_t density = 25;

  // Channel mixer: for red, green, blue out, the percent of red, green and
  // blue in and a constant (-200..200 each). Monochrome uses the first row
  // for all three.
  std::array<std::array<int16_t, 4>, 3> mixer{{{{100, 0, 0, 0}}, {{0, 100, 0, 0}}, {{0, 0, 100, 0}}}};
  bool monochrome = false;

  // Posterize: number of levels, 2..255. Threshold: level, 1..255.
  uint16_t levelCount = 4;
  uint16_t threshold = 128;

  // Selective colour: cyan, magenta, yellow, black percent (-100..100) for
  // reds, yellows, greens, cyans, blues, magentas, whites, neutrals, blacks.
  std::array<std::array<int16_t, 4>, 9> selective{};
  bool absolute = false;  // false: relative to the ink present
};

// True when `key` is the key of an adjustment layer's settings block
// (including kinds that read as kUnknown).
bool isAdjustmentKey(std::string_view key);

// Reads the settings block `key` of `size` bytes at `data` into `out`.
// A "CgEd" block refines the brightness/contrast read from a "brit" block
// before it and leaves any other kind unchanged (it then only names a
// preset). An unknown key, version or colour space gives kind kUnknown and
// true. False with `error` when the block is damaged or out of range; `out`
// is then unchanged.
bool parseAdjustment(std::string_view key, const uint8_t* data, size_t size, Adjustment& out, std::string& error);

// "warning: ..." text for an adjustment layer that is left undrawn, naming
// the layer and the block key.
std::string unknownAdjustmentWarning(const std::string& layerName, const Adjustment& a);

// Changes the colour of `n` straight-alpha 0xAARRGGBB pixels in place as
// Photoshop's adjustment `a` does; alpha stays as it is, kUnknown changes
// nothing.
void applyAdjustment(const Adjustment& a, uint32_t* pixels, size_t n);

}  // namespace korvex::psd
