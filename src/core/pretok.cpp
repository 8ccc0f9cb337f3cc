#include "core/pretok.h"

#include "core/pretok_cut.h"
#include "core/pretok_driver.h"

namespace lexaro {

void encode_core_cl100k(const Vocab& v, const UClass& u, const uint8_t* text, size_t len, std::vector<uint32_t>& out,
                        PretokenCache& cache) {
    encode_pieces<Cl100kRules>(v, u, text, len, out, cache);
}

}  // namespace lexaro
