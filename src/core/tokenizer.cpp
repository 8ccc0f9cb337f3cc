#include "core/tokenizer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/builtin_data.h"
#include "core/fan_out.h"
#include "core/fileio.h"
#include "core/le.h"
#include "core/pcache.h"
#include "core/scratch.h"
#include "core/threads.h"
#include "core/utf8.h"

namespace lexaro {

namespace {

// Process-wide state: the id the next tokenizer built gets (ids are never reused).
std::atomic<uint64_t> next_id{1};

enum class Family { cl100k, o200k };

struct EncodingFiles {
    std::string_view name;
    const char* vocab_file;
    const char* special_file;
    const char* uniclass_file;
    std::span<const uint8_t> (*vocab)();
    std::span<const uint8_t> (*special)();
    Family family;
};

const EncodingFiles ENCODINGS[] = {
    {"cl100k_base", "cl100k.vocab", "cl100k.special", "uniclass.bin", builtin::cl100k_vocab, builtin::cl100k_special,
     Family::cl100k},
    {"o200k_base", "o200k.vocab", "o200k.special", "uniclass_o200k.bin", builtin::o200k_vocab, builtin::o200k_special,
     Family::o200k},
    {"o200k_harmony", "o200k.vocab", "o200k_harmony.special", "uniclass_o200k.bin", builtin::o200k_vocab,
     builtin::o200k_harmony_special, Family::o200k},
};

const EncodingFiles* find_encoding(std::string_view name) {
    for (const EncodingFiles& e : ENCODINGS)
        if (e.name == name) return &e;
    return nullptr;
}

std::string join_path(std::string_view dir, const char* file) {
    std::string path(dir);
    if (path.back() != '/') path += '/';
    return path + file;
}

SpecialMatcher build_matcher(const std::vector<Special>& specials) {
    std::vector<std::string_view> texts;
    texts.reserve(specials.size());
    for (const Special& sp : specials) texts.push_back(sp.text);
    return SpecialMatcher::build(texts);
}

// Frees the thread's IDS on the way out of a call if a huge text grew it, also when the encode fails.
struct ReleaseLargeIds {
    ~ReleaseLargeIds() { release_large_ids_scratch(); }
};

// Grows geometrically, so that many small appends (the stretches between specials) stay linear.
void reserve_more(std::vector<uint32_t>& out, size_t extra) {
    const size_t need = out.size() + extra;
    if (need > out.capacity()) out.reserve(std::max(need, out.capacity() * 2));
}

}  // namespace

uint64_t next_tokenizer_id() { return next_id.fetch_add(1, std::memory_order_seq_cst); }

std::string unknown_encoding(std::string_view name) {
    std::string msg = "lexaro: unknown encoding: " + std::string(name) + " (built-in: ";
    for (size_t i = 0; i < std::size(BUILTIN_NAMES); ++i) {
        if (i) msg += ", ";
        msg += BUILTIN_NAMES[i];
    }
    return msg + ")";
}

Expected<std::vector<Special>> specials_from_bytes(std::span<const uint8_t> bytes, std::string_view source) {
    const Error bad{"lexaro: bad special-tokens file: " + std::string(source)};
    const size_t size = bytes.size();
    if (size < 4) return bad;
    const uint32_t m = load_u32(bytes.data());
    if (m > MAX_SPECIALS) return bad;
    std::vector<Special> out;
    out.reserve(m);
    size_t p = 4;
    for (uint32_t i = 0; i < m; ++i) {
        if (size - p < 6) return bad;
        const uint32_t id = load_u32(bytes.data() + p);
        const uint32_t len = load_u16(bytes.data() + p + 4);
        if (len == 0 || len > MAX_SPECIAL_BYTES || size - p - 6 < len) return bad;
        std::string text(reinterpret_cast<const char*>(bytes.data() + p + 6), len);
        if (utf8_check(text).valid_up_to != text.size()) return bad;
        out.push_back({std::move(text), id});
        p += 6 + len;
    }
    return out;
}

Expected<Tokenizer> Tokenizer::from_data(std::string_view encoding, const EncodingData& data) {
    const EncodingFiles* enc = find_encoding(encoding);
    if (!enc) return Error{unknown_encoding(encoding)};
    Tokenizer tok;
    tok.is_o200k = enc->family == Family::o200k;
    {
        auto v = Vocab::from_bytes(data.vocab, data.vocab_source);
        if (!v) return v.take_error();
        tok.vocab = std::move(*v);
    }
    if (!data.uniclass_error.empty()) return Error{data.uniclass_error};
    if (tok.is_o200k) {
        auto u = UClassO::from_bytes(data.uniclass, data.uniclass_source);
        if (!u) return u.take_error();
        tok.uclass_o = std::move(*u);
    } else {
        auto u = UClass::from_bytes(data.uniclass, data.uniclass_source);
        if (!u) return u.take_error();
        tok.uclass = std::move(*u);
    }
    tok.tokenizer_id = next_tokenizer_id();
    tok.name = std::string(encoding);
    if (data.has_special) {
        auto s = specials_from_bytes(data.special, data.special_source);
        if (!s) return s.take_error();
        tok.specials = std::move(*s);
    }
    tok.special_matcher = build_matcher(tok.specials);
    tok.special_index = SpecialIndex::build(tok.specials);
    return tok;
}

Expected<Tokenizer> Tokenizer::create(std::string_view encoding, std::string_view datadir) {
    const EncodingFiles* enc = find_encoding(encoding);
    if (!enc) return Error{unknown_encoding(encoding)};
    EncodingData data;
    if (datadir.empty()) {
        data.vocab = enc->vocab();
        data.vocab_source = std::string(encoding);
        data.uniclass = enc->family == Family::o200k ? builtin::uniclass_o200k() : builtin::uniclass();
        data.uniclass_source = enc->uniclass_file;
        data.special = enc->special();
        data.special_source = std::string(encoding);
        return from_data(encoding, data);
    }

    // Each file is read whole, but never beyond the longest valid one.
    const std::string vocab_path = join_path(datadir, enc->vocab_file);
    const FileRead vocab = read_whole_file(vocab_path, MAX_VOCAB_FILE_BYTES + 1);  // + 1: a longer file is refused
    if (!vocab.opened) return Error{"lexaro: cannot open vocab file " + display_path(vocab_path) + ": " + vocab.error};
    if (!vocab.ok()) return Error{"lexaro: cannot read " + display_path(vocab_path) + ": " + vocab.error};
    data.vocab = vocab.bytes;
    data.vocab_source = display_path(vocab_path);

    const std::string uniclass_path = join_path(datadir, enc->uniclass_file);
    const FileRead uniclass = read_whole_file(uniclass_path, uniclass_file_bytes(enc->family == Family::o200k ? 5 : 3));
    if (!uniclass.ok())
        data.uniclass_error =
            "lexaro: cannot open uniclass file " + display_path(uniclass_path) + ": " + uniclass.error;
    data.uniclass = uniclass.bytes;
    data.uniclass_source = display_path(uniclass_path);

    const std::string special_path = join_path(datadir, enc->special_file);
    const FileRead special = read_whole_file(special_path, MAX_SPECIAL_FILE_BYTES);
    data.has_special = special.ok();  // an absent or unreadable special-tokens file means no special tokens
    data.special = special.bytes;
    data.special_source = display_path(special_path);
    return from_data(encoding, data);
}

uint64_t Tokenizer::n_vocab() const {
    uint64_t n = vocab.n_tokens;
    for (const Special& s : specials)
        if (uint64_t(s.id) + 1 > n) n = uint64_t(s.id) + 1;
    return n;
}

std::optional<uint32_t> Tokenizer::eot_token() const {
    const Special* eot = special_by_text(ENDOFTEXT);
    return eot != nullptr ? std::optional<uint32_t>(eot->id) : std::nullopt;
}

const Special* Tokenizer::special_by_id(uint32_t id) const { return find_special_by_id(special_index, specials, id); }

const Special* Tokenizer::special_by_text(std::string_view text) const {
    return find_special_by_text(special_index, specials, text);
}

std::optional<std::string_view> Tokenizer::token_bytes(uint32_t id) const {
    if (id < vocab.n_tokens) return vocab.token(id);
    const Special* special = special_by_id(id);
    return special != nullptr ? std::optional<std::string_view>(special->text) : std::nullopt;
}

std::optional<uint32_t> Tokenizer::token_id(std::string_view bytes) const {
    const uint32_t id = vocab.find_id(bytes);
    if (id != NONE) return id;
    const Special* special = special_by_text(bytes);
    return special != nullptr ? std::optional<uint32_t>(special->id) : std::nullopt;
}

uint64_t Tokenizer::footprint() const {
    uint64_t n = vocab.footprint() + uclass.footprint() + uclass_o.footprint();
    for (const Special& s : specials) n += s.text.size() + 32;
    return n;
}

void encode_into_workers(const Tokenizer& tok, std::string_view text, std::vector<uint32_t>& out, uint64_t workers) {
    reserve_more(out, text.size() / 3 + 8);
    CacheLease lease;
    acquire_cache(lease, tok.tokenizer_id, workers);
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    if (tok.is_o200k)
        encode_core_o200k(tok.vocab, tok.uclass_o, p, text.size(), out, *lease.cache);
    else
        encode_core_cl100k(tok.vocab, tok.uclass, p, text.size(), out, *lease.cache);
    release_large_scratch();
}

std::vector<uint32_t> Tokenizer::encode(std::string_view text) const {
    std::vector<uint32_t> out;
    out.reserve(text.size() / 3 + 8);
    encode_into_workers(*this, text, out, 1);
    return out;
}

uint64_t Tokenizer::count(std::string_view text) const {
    // The ids go to the thread's reused buffer: no allocation, and no fresh pages to fault in, per call.
    const ReleaseLargeIds release;
    std::vector<uint32_t>& ids = ids_scratch();
    ids.clear();
    encode_into_workers(*this, text, ids, 1);
    return ids.size();
}

std::vector<uint32_t> Tokenizer::encode_with_allowed(std::string_view text, const uint8_t* allowed,
                                                     uint64_t workers) const {
    std::vector<uint32_t> out;
    out.reserve(text.size() / 3 + 8);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = 0;
        const size_t idx = find_special(special_matcher, text, pos, allowed, &start);
        if (idx == NO_MATCH) {
            encode_into_workers(*this, text.substr(pos), out, workers);
            break;
        }
        if (start > pos) encode_into_workers(*this, text.substr(pos, start - pos), out, workers);
        out.push_back(specials[idx].id);
        pos = start + specials[idx].text.size();
    }
    return out;
}

std::vector<uint32_t> Tokenizer::encode_with_special(std::string_view text) const {
    return encode_with_allowed(text, nullptr);
}

std::string Tokenizer::decode(std::span<const uint32_t> ids) const {
    std::string out;
    if (ids.empty()) return out;
    out.reserve(ids.size() * 4);
    for (const uint32_t id : ids) {
        if (id < vocab.n_tokens) {
            out += vocab.token(id);
            continue;
        }
        if (const Special* special = special_by_id(id)) out += special->text;
    }
    return out;
}

namespace {

// The cut of `text` to at most max_tokens of its ids.
Truncation truncation_of(const Vocab& vocab, std::string_view text, const std::vector<uint32_t>& ids,
                         uint64_t max_tokens) {
    const uint64_t total = ids.size();
    if (total <= max_tokens) return {text.size(), total, total};
    if (max_tokens == 0) return {0, total, 0};
    uint64_t sum = 0;
    for (uint64_t i = 0; i < max_tokens; ++i) sum += vocab.token_len[ids[i]];
    uint64_t cut = sum;
    while (cut > 0 && cut < text.size() && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    uint64_t kept = 0, run = 0;
    while (kept < max_tokens && run + vocab.token_len[ids[kept]] <= cut) run += vocab.token_len[ids[kept++]];
    return {cut, total, kept};
}

}  // namespace

Truncation Tokenizer::truncate(std::string_view text, uint64_t max_tokens) const {
    const ReleaseLargeIds release;
    std::vector<uint32_t>& ids = ids_scratch();
    ids.clear();
    encode_into_workers(*this, text, ids, 1);
    return truncation_of(vocab, text, ids, max_tokens);
}

namespace {

// Batch work: the calling thread only waits, so its caches are parked to serve the workers.
template <class State = NoState, class Work>
void for_each_text_encoding(size_t n, uint64_t threads, Work&& work) {
    for_each_text<State>(n, threads, std::forward<Work>(work), park_thread_caches);
}

}  // namespace

std::vector<std::vector<uint32_t>> Tokenizer::encode_batch(std::span<const std::string_view> texts, uint64_t threads,
                                                           bool with_special) const {
    std::vector<std::vector<uint32_t>> out(texts.size());
    for_each_text_encoding(texts.size(), threads, [&](size_t i, uint64_t workers, NoState&) {
        // The split works on bytes, UTF-8 or not: a special string is recognised wherever it occurs, so
        // that an input cut into several texts (between specials) gives the ids of the whole.
        if (with_special) {
            out[i] = encode_with_allowed(texts[i], nullptr, workers);
        } else {
            encode_into_workers(*this, texts[i], out[i], workers);
        }
    });
    return out;
}

std::vector<uint64_t> Tokenizer::count_batch(std::span<const std::string_view> texts, uint64_t threads,
                                             bool with_special) const {
    std::vector<uint64_t> counts(texts.size(), 0);
    if (texts.empty()) return counts;
    struct CountScratch {
        std::vector<uint32_t> ids;
        CountScratch() { ids.reserve(4096); }
    };
    for_each_text_encoding<CountScratch>(texts.size(), threads, [&](size_t i, uint64_t workers, CountScratch& scratch) {
        if (with_special) {
            counts[i] = encode_with_allowed(texts[i], nullptr, workers).size();
            return;
        }
        scratch.ids.clear();
        encode_into_workers(*this, texts[i], scratch.ids, workers);
        counts[i] = scratch.ids.size();
    });
    return counts;
}

std::vector<Truncation> Tokenizer::truncate_batch(std::span<const std::string_view> texts, uint64_t max_tokens,
                                                  uint64_t threads) const {
    std::vector<Truncation> out(texts.size());
    for_each_text_encoding(texts.size(), threads,
                           [&](size_t i, uint64_t, NoState&) { out[i] = truncate(texts[i], max_tokens); });
    return out;
}

}  // namespace lexaro
