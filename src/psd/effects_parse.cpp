// Layer effect settings from their descriptors.
//
// An "lfx2" or "lmfx" block: version (4) = 0, then a versioned descriptor
// (class "null") with
//   "Scl "            UntF #Prc  the effects' scale
//   "masterFXSwitch"  bool       false when the effects are hidden
// and one object per effect, or a list of objects for kinds that may occur
// several times:
//   "DrSh" / "dropShadowMulti"    "IrSh" / "innerShadowMulti"
//   "OrGl"  "IrGl"  "ebbl" (bevel and emboss)  "ChFX" (satin)
//   "SoFi" / "solidFillMulti"     "GrFl" / "gradientFillMulti"
//   "patternFill"                 "FrFX" / "frameFXMulti" (stroke)
// Every effect object has "enab" (bool) and, in newer files, "present"
// (false: a placeholder the dialog shows, never drawn). Their settings:
//   "Md  " enum BlnM, "Opct" UntF #Prc, "Clr " colour object,
//   "uglg" bool use global light, "lagl" UntF #Ang angle,
//   "Dstn" distance, "Ckmt" spread or choke (a percentage stored as #Pxl),
//   "blur" size, "TrnS" / "MpgS" contour (ShpC: "Crv " list of CrPt with
//   "Hrzn", "Vrtc" 0..255 and "Cnty" bool), "layerConceals" bool,
//   "GlwT" enum BETE ("SfBL" softer, "PrBL" precise), "Inpr" range,
//   "glwS" enum IGSr ("SrcC" centre, "SrcE" edge), "Invr" bool;
//   bevels: "hglM"/"hglC"/"hglO" and "sdwM"/"sdwC"/"sdwO" for the highlight
//   and the shadow, "bvlT" technique ("SfBL", "PrBL", "Slmt"), "bvlS" style
//   ("OtrB", "InrB", "Embs", "PlEb", "strokeEmboss"), "Lald" altitude,
//   "srgR" depth, "bvlD" direction ("In  " up, "Out " down), "Sftn" soften;
//   strokes: "Styl" enum FStl ("OutF", "InsF", "CtrF"), "PntT" enum FrFl
//   ("SClr", "GrFl", "Ptrn"), "Sz  " width;
//   gradients and patterns: the items of gradient and pattern fill layers.
#include <algorithm>
#include <cmath>

#include "psd/descriptor.h"
#include "psd/document.h"
#include "psd/effects.h"
#include "psd/spline.h"

namespace korvex::psd {
namespace {

// Sizes Photoshop's dialogs allow (pixels) and the largest scale: damaged
// numbers are clamped to them so no effect can ask for unbounded work.
constexpr double kMaxLength = 1000;
constexpr double kMaxScale = 10;

BlendMode blendModeOf(const std::string& id) {
  static const struct {
    const char* id;
    BlendMode mode;
  } kModes[] = {
      {"Nrml", BlendMode::kNormal},           {"Dslv", BlendMode::kDissolve},
      {"Drkn", BlendMode::kDarken},           {"Mltp", BlendMode::kMultiply},
      {"CBrn", BlendMode::kColorBurn},        {"linearBurn", BlendMode::kLinearBurn},
      {"darkerColor", BlendMode::kDarkerColor}, {"Lghn", BlendMode::kLighten},
      {"Scrn", BlendMode::kScreen},           {"CDdg", BlendMode::kColorDodge},
      {"linearDodge", BlendMode::kLinearDodge}, {"lighterColor", BlendMode::kLighterColor},
      {"Ovrl", BlendMode::kOverlay},          {"SftL", BlendMode::kSoftLight},
      {"HrdL", BlendMode::kHardLight},        {"vividLight", BlendMode::kVividLight},
      {"linearLight", BlendMode::kLinearLight}, {"pinLight", BlendMode::kPinLight},
      {"hardMix", BlendMode::kHardMix},       {"Dfrn", BlendMode::kDifference},
      {"Xclu", BlendMode::kExclusion},        {"blendSubtraction", BlendMode::kSubtract},
      {"blendDivide", BlendMode::kDivide},    {"H   ", BlendMode::kHue},
      {"Strt", BlendMode::kSaturation},       {"Clr ", BlendMode::kColor},
      {"Lmns", BlendMode::kLuminosity},
  };
  for (const auto& m : kModes)
    if (id == m.id) return m.mode;
  return BlendMode::kNormal;
}

uint32_t packRgb(double r, double g, double b) {
  auto c = [](double v) { return static_cast<uint32_t>(std::lround(clampNumber(v, 0, 255))); };
  return c(r) << 16 | c(g) << 8 | c(b);
}

// The contour of an effect: a ShpC object with a "Crv " list of points.
// Fewer than two points, or points out of order, keep the linear contour.
Contour contourOf(const DescriptorValue* shape) {
  Contour contour;
  if (!shape) return contour;
  struct Point {
    double x, y;
    bool smooth;
  };
  std::vector<Point> points;
  for (const DescriptorValue& p : shape->list("Crv ")) {
    const double x = clampNumber(p.number("Hrzn", -1), -1, 255);
    if (x < 0 || (!points.empty() && x <= points.back().x)) return Contour();
    points.push_back({x, clampNumber(p.number("Vrtc", 0), 0, 255), p.boolean("Cnty", true)});
  }
  if (points.size() < 2) return contour;
  std::vector<double> xs, ys;
  for (const Point& p : points) {
    xs.push_back(p.x);
    ys.push_back(p.y);
  }
  const NaturalSpline spline(std::move(xs), std::move(ys));
  bool identity = true;
  for (int x = 0; x < 256; ++x) {
    double y;
    if (x <= points.front().x || x >= points.back().x) {
      y = spline(x);
    } else {
      // A corner point at either end makes its segment straight.
      const size_t k = spline.segment(x);
      y = points[k].smooth && points[k + 1].smooth ? spline.onSegment(k, x) : spline.straight(k, x);
    }
    const uint8_t v = static_cast<uint8_t>(std::lround(clampNumber(y, 0, 255)));
    contour.table[static_cast<size_t>(x)] = v;
    identity = identity && v == x;
  }
  contour.linear = identity;
  return contour;
}

// What every effect object may hold.
void readCommon(const DescriptorValue& d, const GlobalLight& light, double scale, LayerEffect& e) {
  e.mode = blendModeOf(d.enumValue("Md  "));
  e.opacity = clampNumber(d.number("Opct", 100), 0, 100) / 100;
  e.angle = d.boolean("uglg", false) ? light.angle : clampNumber(d.number("lagl", 120), -360, 360);
  e.distance = clampNumber(d.number("Dstn", 0), 0, kMaxLength) * scale;
  e.spread = clampNumber(d.number("Ckmt", 0), 0, 100) / 100;
  e.size = clampNumber(d.number("blur", 0), 0, kMaxLength) * scale;
  e.range = clampNumber(d.number("Inpr", 50), 1, 100) / 100;
  e.contour = contourOf(d.find("TrnS") ? d.find("TrnS") : d.find("MpgS"));
  e.invert = d.boolean("Invr", false);
  e.knockOut = d.boolean("layerConceals", true);
  e.precise = d.enumValue("GlwT") == "PrBL";
  e.fromCenter = d.enumValue("glwS") == "SrcC";
}

// A colour item: false with `error` when it is missing or unreadable.
bool readColor(const DescriptorValue& d, const char* key, uint32_t& rgb, std::string& error) {
  const DescriptorValue* c = d.find(key);
  double v[3];
  if (c && descriptorColor(*c, v)) {
    rgb = packRgb(v[0], v[1], v[2]);
    return true;
  }
  error = c ? "unknown colour space " + c->classId : "no colour";
  return false;
}

bool readBevel(const DescriptorValue& d, const GlobalLight& light, double scale, LayerEffect& e,
               std::string& error) {
  if (!readColor(d, "hglC", e.color, error) || !readColor(d, "sdwC", e.shadowColor, error)) return false;
  e.mode = blendModeOf(d.enumValue("hglM"));
  e.opacity = clampNumber(d.number("hglO", 75), 0, 100) / 100;
  e.shadowMode = blendModeOf(d.enumValue("sdwM"));
  e.shadowOpacity = clampNumber(d.number("sdwO", 75), 0, 100) / 100;
  const std::string technique = d.enumValue("bvlT");
  e.technique = technique == "PrBL" ? BevelTechnique::kChiselHard
                : technique == "Slmt" ? BevelTechnique::kChiselSoft
                                      : BevelTechnique::kSmooth;
  const std::string style = d.enumValue("bvlS");
  e.bevelStyle = style == "OtrB"           ? BevelStyle::kOuter
                 : style == "Embs"         ? BevelStyle::kEmboss
                 : style == "PlEb"         ? BevelStyle::kPillowEmboss
                 : style == "strokeEmboss" ? BevelStyle::kStrokeEmboss
                                           : BevelStyle::kInner;
  const bool global = d.boolean("uglg", false);
  e.altitude = global ? light.altitude : clampNumber(d.number("Lald", 30), 0, 90);
  e.depth = clampNumber(d.number("srgR", 100), 1, 1000) / 100;
  e.up = d.enumValue("bvlD") != "Out ";
  e.soften = clampNumber(d.number("Sftn", 0), 0, kMaxLength) * scale;
  return true;
}

bool readStroke(const DescriptorValue& d, double scale, LayerEffect& e, std::string& error) {
  const std::string style = d.enumValue("Styl");
  e.position = style == "InsF" ? StrokePosition::kInside
               : style == "CtrF" ? StrokePosition::kCenter
                                 : StrokePosition::kOutside;
  e.size = clampNumber(d.number("Sz  ", 3), 0, kMaxLength) * scale;
  const std::string paint = d.enumValue("PntT");
  if (paint == "GrFl") {
    e.fill = StrokeFill::kGradient;
    return parseGradientFill(d, e.gradient, error);
  }
  if (paint == "Ptrn") {
    e.fill = StrokeFill::kPattern;
    return parsePatternFill(d, e.pattern, error);
  }
  return readColor(d, "Clr ", e.color, error);
}

// One effect object of kind `kind`: false with `error` when damaged.
bool readEffect(const DescriptorValue& d, EffectKind kind, const GlobalLight& light, double scale,
                LayerEffect& e, std::string& error) {
  if (d.kind != DescriptorKind::kObject) {
    error = "not an object";
    return false;
  }
  e.kind = kind;
  readCommon(d, light, scale, e);
  switch (kind) {
    case EffectKind::kBevel:
      return readBevel(d, light, scale, e, error);
    case EffectKind::kStroke:
      return readStroke(d, scale, e, error);
    case EffectKind::kGradientOverlay:
      return parseGradientFill(d, e.gradient, error);
    case EffectKind::kPatternOverlay:
      return parsePatternFill(d, e.pattern, error);
    case EffectKind::kOuterGlow:
    case EffectKind::kInnerGlow:
      // A gradient glow ("Grad" instead of "Clr ") draws with its first colour.
      if (!d.find("Clr ") && d.find("Grad")) {
        Gradient gradient;
        if (!parseGradient(*d.find("Grad"), gradient, error)) return false;
        const GradientColorStop& s = gradient.colors.front();
        e.color = packRgb(s.red, s.green, s.blue);
        return true;
      }
      return readColor(d, "Clr ", e.color, error);
    default:
      return readColor(d, "Clr ", e.color, error);
  }
}

}  // namespace

Contour::Contour() {
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i);
}

bool parseLayerEffects(const DescriptorValue& block, const GlobalLight& light, LayerEffects& out,
                       std::string& error) {
  out = LayerEffects();
  if (block.kind != DescriptorKind::kObject) {
    error = "layer effects: not a descriptor object";
    return false;
  }
  out.visible = block.boolean("masterFXSwitch", true);
  out.scale = clampNumber(block.number("Scl ", 100), 1, 100 * kMaxScale) / 100;
  // Keys in drawing order, bottom to top; each kind's list reversed.
  static const struct {
    const char* single;
    const char* multi;
    EffectKind kind;
    const char* name;
  } kKinds[] = {
      {"DrSh", "dropShadowMulti", EffectKind::kDropShadow, "drop shadow"},
      {"OrGl", nullptr, EffectKind::kOuterGlow, "outer glow"},
      {"patternFill", nullptr, EffectKind::kPatternOverlay, "pattern overlay"},
      {"GrFl", "gradientFillMulti", EffectKind::kGradientOverlay, "gradient overlay"},
      {"SoFi", "solidFillMulti", EffectKind::kColorOverlay, "colour overlay"},
      {"ChFX", nullptr, EffectKind::kSatin, "satin"},
      {"IrGl", nullptr, EffectKind::kInnerGlow, "inner glow"},
      {"IrSh", "innerShadowMulti", EffectKind::kInnerShadow, "inner shadow"},
      {"FrFX", "frameFXMulti", EffectKind::kStroke, "stroke"},
      {"ebbl", nullptr, EffectKind::kBevel, "bevel and emboss"},
  };
  for (const auto& k : kKinds) {
    std::vector<const DescriptorValue*> objects;
    if (const DescriptorValue* list = k.multi ? block.find(k.multi) : nullptr) {
      for (const DescriptorValue& item : list->list()) objects.push_back(&item);
      std::reverse(objects.begin(), objects.end());
    } else if (const DescriptorValue* single = block.find(k.single)) {
      objects.push_back(single);
    }
    for (const DescriptorValue* d : objects) {
      if (!d->boolean("enab", false) || !d->boolean("present", true)) continue;
      LayerEffect effect;
      std::string reason;
      if (!readEffect(*d, k.kind, light, out.scale, effect, reason)) {
        if (!out.warning.empty()) out.warning += "; ";
        out.warning += std::string(k.name) + ": " + reason;
        continue;
      }
      out.effects.push_back(std::move(effect));
    }
  }
  return true;
}

// A "vstk" descriptor (class "strokeStyle"):
//   "strokeEnabled", "fillEnabled"  bool
//   "strokeStyleLineWidth"          UntF #Pxl
//   "strokeStyleLineAlignment"      enum: "strokeStyleAlignInside",
//                                   "strokeStyleAlignCenter", "strokeStyleAlignOutside"
//   "strokeStyleBlendMode"          enum BlnM
//   "strokeStyleOpacity"            UntF #Prc
//   "strokeStyleContent"            object: "solidColorLayer" ("Clr "),
//                                   "gradientLayer" or "patternLayer" (the
//                                   items of gradient and pattern fill layers)
//   "strokeStyleLineDashSet"        list: the dash pattern, empty for a solid line
// Caps, joins and the miter limit are read by Photoshop alone: the stroke
// is drawn with the joins a distance band gives. Dashed strokes are not
// drawn (the stored pixels still show them).
bool parseShapeStroke(const DescriptorValue& block, ShapeStroke& out, std::string& error) {
  out = ShapeStroke();
  if (block.kind != DescriptorKind::kObject) {
    error = "not a descriptor object";
    return false;
  }
  out.enabled = block.boolean("strokeEnabled", false);
  if (out.enabled && !block.list("strokeStyleLineDashSet").empty()) {
    error = "dashed strokes are not drawn";
    return false;
  }
  out.fillEnabled = block.boolean("fillEnabled", true);
  out.width = clampNumber(block.number("strokeStyleLineWidth", 1), 0, kMaxLength);
  const std::string align = block.enumValue("strokeStyleLineAlignment");
  out.alignment = align == "strokeStyleAlignOutside"  ? StrokePosition::kOutside
                  : align == "strokeStyleAlignCenter" ? StrokePosition::kCenter
                                                      : StrokePosition::kInside;
  out.mode = blendModeOf(block.enumValue("strokeStyleBlendMode"));
  out.opacity = clampNumber(block.number("strokeStyleOpacity", 100), 0, 100) / 100;
  const DescriptorValue* content = block.find("strokeStyleContent");
  if (!content || content->kind != DescriptorKind::kObject) {
    error = "no stroke content";
    return false;
  }
  if (content->classId == "gradientLayer") {
    out.fill = StrokeFill::kGradient;
    return parseGradientFill(*content, out.gradient, error);
  }
  if (content->classId == "patternLayer") {
    out.fill = StrokeFill::kPattern;
    return parsePatternFill(*content, out.pattern, error);
  }
  return readColor(*content, "Clr ", out.color, error);
}

}  // namespace korvex::psd
