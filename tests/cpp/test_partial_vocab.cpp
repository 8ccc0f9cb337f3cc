// A vocabulary in which some single bytes are no token: their bytes are dropped, and the pre-token cache
// must give back exactly what an uncached encode gives, also for pieces that come out with no id at all.
#include "check.h"
#include "core/builtin_data.h"
#include "core/pcache.h"
#include "core/tokenizer.h"
#include "vocab_util.h"

using namespace lexaro;

TEST(cache_agrees_on_pieces_without_ids) {
    std::vector<testutil::Rec> recs;
    for (uint32_t b = 0x20; b < 0x7F; ++b)
        if (b != '4') recs.push_back({std::string(1, char(b)), uint32_t(recs.size())});
    recs.push_back({"he", uint32_t(recs.size())});
    const std::vector<uint8_t> vocab = testutil::vocab_file(recs);
    EncodingData files;
    files.vocab = vocab;
    files.uniclass = builtin::uniclass();
    files.has_special = false;
    const Tokenizer tok = std::move(*Tokenizer::from_data("cl100k_base", files));
    CHECK(!tok.vocab.all_bytes);
    // "4" and "\xC3\xA9" are pieces whose bytes all lack a token
    const std::string_view text = "he said 2024 -- 4 \xC3\xA9t\xC3\xA9 4 -- he";
    std::vector<uint32_t> uncached;
    PretokenCache off;
    encode_core_cl100k(tok.vocab, tok.uclass, reinterpret_cast<const uint8_t*>(text.data()), text.size(), uncached,
                       off);
    CHECK(tok.encode(text) == uncached);  // fills this thread's cache
    CHECK(tok.encode(text) == uncached);  // served from it
    CHECK_EQ(tok.count(text), uint64_t(uncached.size()));
}

TEST_MAIN()
