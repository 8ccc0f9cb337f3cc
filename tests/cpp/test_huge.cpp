// Texts and pieces beyond 32-bit positions encode correctly (opt-in: needs about 12 GB of memory and a
// minute; run with LEXARO_HUGE_TESTS=1, else ctest reports a skip).
#include <cstdlib>
#include <string>

#include "check.h"
#include "core/tokenizer.h"

using namespace lexaro;

TEST(piece_beyond_4_gib) {
    if (!std::getenv("LEXARO_HUGE_TESTS")) {
        check::skip("set LEXARO_HUGE_TESTS=1");
        return;
    }
    const Tokenizer tok = std::move(*Tokenizer::create("cl100k_base"));
    // one letter run of 2^32 + 100 bytes is a single piece
    const size_t n = (size_t(1) << 32) + 100;
    std::string text(n, 'a');
    const std::vector<uint32_t> ids = tok.encode(text);
    size_t bytes = 0;
    bool only_a = true;
    for (uint32_t id : ids) {
        const std::string_view t = tok.vocab.token(id);
        bytes += t.size();
        only_a &= t.find_first_not_of('a') == std::string_view::npos;
    }
    CHECK_EQ(bytes, n);
    CHECK(only_a);
    // the ids of the start agree with those of a shorter run of the same letter, cut at a token boundary
    const std::vector<uint32_t> small = tok.encode(std::string_view(text).substr(0, 1 << 20));
    size_t same = 0;
    while (same < small.size() && same < ids.size() && small[same] == ids[same]) ++same;
    CHECK(same + 8 >= small.size());
    // a whole text beyond 4 GiB of short words: counts and byte sums do not wrap
    text.clear();
    text.shrink_to_fit();
    std::string words;
    while (words.size() < (size_t(1) << 32) + 4096) words += "the cat sat on a mat. ";
    const std::vector<uint32_t> w = tok.encode(words);
    size_t wbytes = 0;
    for (uint32_t id : w) wbytes += tok.vocab.token_len[id];
    CHECK_EQ(wbytes, words.size());
    const std::string tail = tok.decode(std::span<const uint32_t>(w.data() + w.size() - 6, 6));
    CHECK(words.compare(words.size() - tail.size(), tail.size(), tail) == 0);
}

TEST_MAIN()
