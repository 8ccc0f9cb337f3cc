#include "core/scratch.h"

namespace lexaro {

namespace {
thread_local Scratch SCRATCH;
thread_local std::vector<uint32_t> IDS;
}  // namespace

Scratch& scratch() { return SCRATCH; }
std::vector<uint32_t>& ids_scratch() { return IDS; }

}  // namespace lexaro
