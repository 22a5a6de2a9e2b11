// The bottom-left fill written out plainly: every candidate ever made is
// kept, visited in list order and tested against every lower index. Slow
// (its cost grows with the fourth power of the rectangle count); the tests
// and the benchmark compare the packer's engine against it.
#pragma once

#include <cstdint>
#include <vector>

namespace korvex::test {

class ReferenceBLF {
 public:
  int32_t border = 0;
  int32_t spacing = 0;

  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity) {
    (void)containerHeight;  // kept by the engine, never consulted
    areaWidth_ = static_cast<double>(containerWidth - 2 * border);
    rectWidth_.assign(static_cast<size_t>(capacity), 0.0);
    rectHeight_.assign(static_cast<size_t>(capacity), 0.0);
    rectX_.assign(static_cast<size_t>(capacity), 0.0);
    rectY_.assign(static_cast<size_t>(capacity), 0.0);
    const size_t slots = static_cast<size_t>((capacity * capacity) / 2 + 1);
    candX_.assign(slots, 0.0);
    candY_.assign(slots, 0.0);
    gapX_.assign(slots, 0.0);
    gapY_.assign(slots, 0.0);
    candidateCount_ = 1;
  }

  void AddRect(int32_t i, int32_t w, int32_t h) {
    rectWidth_[i] = w + spacing;
    rectHeight_[i] = h + spacing;
    place(i);
  }

  void GetPos(int32_t i, int32_t& x, int32_t& y) const {
    x = static_cast<int32_t>(border + rectX_[i]);
    y = static_cast<int32_t>(border + rectY_[i]);
  }

  int32_t candidateCount() const { return candidateCount_; }

 private:
  static constexpr double kEps = 0.001;
  static constexpr double kStart = 3.4028234663852886e38;

  void append(double x, double y, double gx, double gy) {
    candX_.at(static_cast<size_t>(candidateCount_)) = x;
    candY_[candidateCount_] = y;
    gapX_[candidateCount_] = gx;
    gapY_[candidateCount_] = gy;
    ++candidateCount_;
  }

  void place(int32_t i) {
    const double W = rectWidth_[i], H = rectHeight_[i];
    double bestX = kStart, bestY = kStart;
    for (int32_t k = 0; k < candidateCount_; ++k) {
      const double cx = candX_[k], cy = candY_[k];
      if (!(W > gapX_[k] + kEps && H > gapY_[k] + kEps)) continue;
      if (!(cx >= 0 && cx + W <= areaWidth_)) continue;
      if (!(cy >= 0)) continue;
      bool overlap = false;
      for (int32_t j = 0; j < i; ++j) {
        if (cx < rectX_[j] + rectWidth_[j] - kEps && cx + W > rectX_[j] + kEps &&
            cy + H > rectY_[j] + kEps && cy < rectY_[j] + rectHeight_[j] - kEps)
          overlap = true;
      }
      if (overlap) continue;
      if (cy < bestY || (cy < bestY + kEps && cx < bestX)) {
        bestX = cx;
        bestY = cy;
      }
    }
    if (bestX == kStart || bestY == kStart) {
      rectX_[i] = rectY_[i] = ~border;
      return;
    }
    const double x = bestX, y = bestY;
    rectX_[i] = x;
    rectY_[i] = y;
    append(x + W, 0, 0, y);
    append(0, y + H, x, 0);
    for (int32_t j = 0; j < i; ++j) {
      const double xj = rectX_[j], yj = rectY_[j], wj = rectWidth_[j], hj = rectHeight_[j];
      if (xj + kEps > x + W && y + H > yj + hj + kEps) {
        const double gy = y - (yj + hj);
        append(x + W, yj + hj, xj - (x + W), gy > 0 ? gy : 0);
      }
      if (x + kEps > xj + wj && yj + hj > y + H + kEps) {
        const double gy = yj - (y + H);
        append(xj + wj, y + H, x - (xj + wj), gy > 0 ? gy : 0);
      }
      if (yj + kEps > y + H && x + W > xj + wj + kEps) {
        const double gx = x - (xj + wj);
        append(xj + wj, y + H, gx > 0 ? gx : 0, yj - (y + H));
      }
      if (y + kEps > yj + hj && xj + wj > x + W + kEps) {
        const double gx = xj - (x + W);
        append(x + W, yj + hj, gx > 0 ? gx : 0, y - (yj + hj));
      }
    }
  }

  double areaWidth_ = 0;
  int32_t candidateCount_ = 0;
  std::vector<double> rectWidth_, rectHeight_, rectX_, rectY_;
  std::vector<double> candX_, candY_, gapX_, gapY_;
};

}  // namespace korvex::test
