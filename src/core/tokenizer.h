// Tokenizer: one loaded encoding (vocabulary, special tokens, class tables) and every operation on it.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/expected.h"
#include "core/literal_match.h"
#include "core/pretok.h"
#include "core/pretok_o200k.h"
#include "core/special_index.h"
#include "core/vocab.h"

namespace lexaro {

struct Truncation {
    uint64_t byte_len = 0;      // kept prefix of the text, on a character boundary
    uint64_t total_tokens = 0;  // tokens of the whole text
    uint64_t kept_tokens = 0;   // leading tokens lying entirely within byte_len
};

// The bytes of an encoding's three data files and the names its messages show for them.
struct EncodingData {
    std::span<const uint8_t> vocab;
    std::string vocab_source;
    std::span<const uint8_t> uniclass;
    std::string uniclass_source;
    std::string uniclass_error;  // the class file could not be read: reported once the vocabulary is checked
    std::span<const uint8_t> special;
    std::string special_source;
    bool has_special = true;  // false: no special-tokens file, so no special tokens
};

inline constexpr std::string_view BUILTIN_NAMES[] = {"cl100k_base", "o200k_base", "o200k_harmony"};
inline constexpr std::string_view ENDOFTEXT = "<|endoftext|>";

struct Tokenizer {
    Vocab vocab;
    std::string name;
    UClass uclass;
    UClassO uclass_o;
    std::vector<Special> specials;
    uint64_t tokenizer_id = 0;
    bool is_o200k = false;
    SpecialMatcher special_matcher;  // over the texts of `specials`, in list order
    SpecialIndex special_index;      // `specials` by id and by text

    // An empty datadir selects the built-in data set.
    static Expected<Tokenizer> create(std::string_view encoding, std::string_view datadir = {});
    // The same from the data files' bytes, checked in the order of `create`.
    static Expected<Tokenizer> from_data(std::string_view encoding, const EncodingData& data);

    uint64_t n_vocab() const;  // may be 2^32 when a special token has id 0xFFFFFFFF
    std::optional<uint32_t> eot_token() const;
    uint64_t footprint() const;  // exact heap footprint by element counts

    // The first listed special token with this id or text; null when there is none.
    const Special* special_by_id(uint32_t id) const;
    const Special* special_by_text(std::string_view text) const;
    // The bytes of an ordinary or special id; none for an id that is neither.
    std::optional<std::string_view> token_bytes(uint32_t id) const;
    // The id of the ordinary token with exactly these bytes, else of the special token with this text.
    std::optional<uint32_t> token_id(std::string_view bytes) const;

    std::vector<uint32_t> encode(std::string_view text) const;
    uint64_t count(std::string_view text) const;  // the number of ids of encode(text)
    std::vector<uint32_t> encode_with_special(std::string_view text) const;
    // Like encode_with_special, recognising only the specials whose flag in `allowed` (one per entry
    // of `specials`) is set; all of them when `allowed` is null. `workers`: threads encoding at once.
    std::vector<uint32_t> encode_with_allowed(std::string_view text, const uint8_t* allowed,
                                              uint64_t workers = 1) const;
    std::string decode(std::span<const uint32_t> ids) const;
    Truncation truncate(std::string_view text, uint64_t max_tokens) const;

    std::vector<std::vector<uint32_t>> encode_batch(std::span<const std::string_view> texts, uint64_t threads,
                                                    bool with_special) const;
    // Counts in 64 bits: a text of 2^32 tokens or more is counted, not wrapped.
    std::vector<uint64_t> count_batch(std::span<const std::string_view> texts, uint64_t threads,
                                      bool with_special) const;
    std::vector<Truncation> truncate_batch(std::span<const std::string_view> texts, uint64_t max_tokens,
                                           uint64_t threads) const;
};

inline constexpr uint32_t MAX_SPECIALS = 4096;
inline constexpr uint32_t MAX_SPECIAL_BYTES = 64;
// The longest meaningful special-tokens file; bytes after its entries are never read.
inline constexpr uint64_t MAX_SPECIAL_FILE_BYTES = 4 + uint64_t(MAX_SPECIALS) * (6 + MAX_SPECIAL_BYTES);

Expected<std::vector<Special>> specials_from_bytes(std::span<const uint8_t> bytes, std::string_view source);
std::string unknown_encoding(std::string_view name);
uint64_t next_tokenizer_id();

// The single entry of every ordinary encode: appends the ids of `text` to `out`.
// `workers` is the number of threads encoding at once; it only sizes a new pre-token cache.
void encode_into_workers(const Tokenizer& tok, std::string_view text, std::vector<uint32_t>& out, uint64_t workers);

}  // namespace lexaro
