#include "psd/psd.h"

namespace korvex::psd {
// Stub: replaced by the PSD module's implementation.
bool loadDocument(const std::string&, Document&, std::string& error) {
  error = "not implemented";
  return false;
}
bool parseDocument(const uint8_t*, size_t, Document&, std::string& error) {
  error = "not implemented";
  return false;
}
struct Compositor::State {};
Compositor::Compositor(const Document&) : state_(std::make_unique<State>()) {}
Compositor::~Compositor() = default;
bool Compositor::composite(const std::vector<const LayerRecord*>&, Box&) { return false; }
const uint32_t* Compositor::canvas() const { return nullptr; }
void Compositor::clear(const Box&) {}
}  // namespace korvex::psd
