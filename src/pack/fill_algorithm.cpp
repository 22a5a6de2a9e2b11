#include "pack/fill_algorithm.h"

namespace korvex {
// Stub: replaced by the packing module's implementation.
void FillAlgorithm::Init(int32_t, int32_t, int32_t) {}
void FillAlgorithm::AddRect(int32_t, int32_t, int32_t) {}
void FillAlgorithm::Execute() {}
void FillAlgorithm::GetPos(int32_t, int32_t& x, int32_t& y) { x = y = -1; }
}  // namespace korvex
