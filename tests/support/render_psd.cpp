#include "support/render_psd.h"

#include <gtest/gtest.h>

#include <string>

#include "psd/compositor.h"
#include "psd/reader.h"

namespace korvex::test {

std::vector<uint32_t> renderPsd(const PsdOptions& options, const std::vector<PsdRecord>& records) {
  const std::string bytes = makePsd(options, records);
  psd::Document d;
  std::string error;
  EXPECT_TRUE(psd::parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
  psd::Compositor compositor(d);
  psd::Box touched;
  EXPECT_TRUE(compositor.compositeDocument(touched));
  const size_t n = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
  return compositor.canvas() ? std::vector<uint32_t>(compositor.canvas(), compositor.canvas() + n)
                             : std::vector<uint32_t>();
}

}  // namespace korvex::test
