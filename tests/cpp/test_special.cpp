// Special tokens: the lookup by id and by text (first listed entry wins), the single-token lookups of the
// tokenizer, the special-token policy of encode, and the quoting of the disallowed-special message.
#include <string>
#include <vector>

#include "check.h"
#include "core/special_index.h"
#include "core/special_policy.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

const Tokenizer& cl100k() {
    static const Tokenizer tok = std::move(*Tokenizer::create("cl100k_base"));
    return tok;
}

SpecialSet set_of(std::vector<std::string> strings, bool every = false) {
    SpecialSet s;
    s.every_special = every;
    s.strings.insert(strings.begin(), strings.end());
    return s;
}

std::optional<std::string_view> refused(std::string_view text, const SpecialSet& allowed,
                                        const SpecialSet& disallowed) {
    return first_refused(cl100k(), text, allowed, disallowed, allowed_flags(cl100k(), allowed));
}

}  // namespace

TEST(the_first_listed_entry_wins_for_a_repeated_id_or_text) {
    const std::vector<Special> specials = {{"<a>", 5}, {"<b>", 7}, {"<a>", 9}, {"<c>", 5}};
    const SpecialIndex index = SpecialIndex::build(specials);
    CHECK(find_special_by_text(index, specials, "<a>") == &specials[0]);
    CHECK(find_special_by_text(index, specials, "<c>") == &specials[3]);
    CHECK(find_special_by_id(index, specials, 5) == &specials[0]);
    CHECK(find_special_by_id(index, specials, 9) == &specials[2]);
    CHECK(find_special_by_id(index, specials, 7) == &specials[1]);
    CHECK(find_special_by_id(index, specials, 6) == nullptr);
    CHECK(find_special_by_text(index, specials, "<a") == nullptr);
    CHECK(find_special_by_text(index, specials, "") == nullptr);
    const std::vector<Special> none;
    CHECK(find_special_by_id(SpecialIndex::build(none), none, 0) == nullptr);
}

// o200k_harmony lists id 200018 twice, as "<|endofprompt|>" and then "<|reserved_200018|>".
TEST(every_listed_special_is_found_as_a_walk_of_the_list_finds_it) {
    for (const char* name : {"cl100k_base", "o200k_harmony"}) {
        const Tokenizer tok = std::move(*Tokenizer::create(name));
        for (const Special& s : tok.specials) {
            const Special* first_with_id = nullptr;
            for (const Special& t : tok.specials)
                if (t.id == s.id && first_with_id == nullptr) first_with_id = &t;
            CHECK(tok.special_by_text(s.text) != nullptr && tok.special_by_text(s.text)->id == s.id);
            CHECK(tok.special_by_id(s.id) == first_with_id);
            CHECK(tok.token_bytes(s.id) == std::optional<std::string_view>(first_with_id->text));
            CHECK(tok.token_id(s.text) == std::optional<uint32_t>(s.id));
        }
    }
    const Tokenizer harmony = std::move(*Tokenizer::create("o200k_harmony"));
    CHECK(harmony.token_bytes(200018) == std::optional<std::string_view>("<|endofprompt|>"));
}

TEST(single_token_lookups_cover_ordinary_and_special_ids) {
    const Tokenizer& tok = cl100k();
    const uint32_t hello = tok.vocab.find_id("hello");
    CHECK(hello != NONE);
    CHECK(tok.token_id("hello") == std::optional<uint32_t>(hello));
    CHECK(tok.token_bytes(hello) == std::optional<std::string_view>("hello"));
    CHECK(tok.token_id("<|endoftext|>") == std::optional<uint32_t>(100257));
    CHECK(!tok.token_id("\xff\xff\xff\xff\xff\xff"));
    CHECK(!tok.token_bytes(100256));  // between the last ordinary id and the first special one
    CHECK(!tok.token_bytes(0xFFFFFFFF));
    CHECK_EQ(tok.decode(std::vector<uint32_t>{hello, 100256, 100257}), std::string("hello<|endoftext|>"));
}

TEST(allowed_flags_mark_the_allowed_entries_of_the_list) {
    const Tokenizer& tok = cl100k();
    CHECK(allowed_flags(tok, set_of({})).empty());
    CHECK(allowed_flags(tok, set_of({"<|nothing|>", "hello"})).empty());  // none of them is special
    const std::vector<uint8_t> all = allowed_flags(tok, set_of({}, true));
    CHECK_EQ(all.size(), tok.specials.size());
    CHECK(std::all_of(all.begin(), all.end(), [](uint8_t f) { return f == 1; }));
    const std::vector<uint8_t> one = allowed_flags(tok, set_of({"<|fim_prefix|>"}));
    for (size_t i = 0; i < tok.specials.size(); ++i) CHECK_EQ(one[i] == 1, tok.specials[i].text == "<|fim_prefix|>");
}

TEST(the_first_refused_string_is_the_smallest_occurring_one_wherever_it_lies) {
    const SpecialSet every = set_of({}, true);
    const SpecialSet nothing = set_of({});
    CHECK(!refused("plain text", nothing, every));
    CHECK(refused("a <|endoftext|> b", nothing, every) == std::optional<std::string_view>("<|endoftext|>"));
    // "<|endoftext|>" sorts before "<|fim_prefix|>" though it comes later in the text
    CHECK(refused("<|fim_prefix|> then <|endoftext|>", nothing, every) ==
          std::optional<std::string_view>("<|endoftext|>"));
    CHECK(refused("<|fim_prefix|> then <|endoftext|>", set_of({"<|endoftext|>"}), every) ==
          std::optional<std::string_view>("<|fim_prefix|>"));
    CHECK(!refused("<|fim_prefix|> then <|endoftext|>", every, every));
    CHECK(!refused("<|endoftext|>", nothing, nothing));  // nothing disallowed
    // strings that are not special tokens are searched as they are, in byte order; "" occurs nowhere
    CHECK(refused("zz then abc", nothing, set_of({"", "abc", "zz"})) == std::optional<std::string_view>("abc"));
    CHECK(refused("zz then abc", set_of({"abc"}), set_of({"abc", "zz"})) == std::optional<std::string_view>("zz"));
    CHECK(refused("zz then <|endoftext|>", nothing, set_of({"<|endoftext|>", "zz"})) ==
          std::optional<std::string_view>("<|endoftext|>"));
    CHECK(!refused("", nothing, set_of({""}, true)));
}

TEST(encode_with_allowed_is_the_same_for_any_worker_count) {
    const Tokenizer& tok = cl100k();
    const std::string text = "one <|endoftext|> two <|fim_prefix|> three";
    const std::vector<uint32_t> alone = tok.encode_with_allowed(text, nullptr, 1);
    CHECK(alone == tok.encode_with_allowed(text, nullptr, 8));
    CHECK(std::count(alone.begin(), alone.end(), 100257u) == 1);
    CHECK(std::count(alone.begin(), alone.end(), 100258u) == 1);
}

TEST(quoting_escapes_controls_named_characters_and_grapheme_extenders) {
    std::vector<uint32_t> asked;
    const auto never = [&](uint32_t cp) {
        asked.push_back(cp);
        return false;
    };
    CHECK_EQ(quoted_for_message(std::string("a\"b\\c\t\n\r", 8) + std::string(1, '\0'), never),
             std::string("\"a\\\"b\\\\c\\t\\n\\r\\0\""));
    CHECK_EQ(quoted_for_message("\x01\x1f\x7f ~", never), std::string("\"\\u{1}\\u{1f}\\u{7f} ~\""));
    CHECK(asked.empty());  // ASCII is decided without the callback
    // U+200C is in Other_Grapheme_Extend: escaped whatever the callback says; é is asked about and kept
    CHECK_EQ(quoted_for_message("\xE2\x80\x8C\xC3\xA9", never), std::string("\"\\u{200c}\xC3\xA9\""));
    CHECK(asked == std::vector<uint32_t>{0xE9});
    const auto always = [](uint32_t) { return true; };
    CHECK_EQ(quoted_for_message("\xF0\x9F\x98\x80x", always), std::string("\"\\u{1f600}x\""));
    CHECK_EQ(quoted_for_message("", always), std::string("\"\""));
}

TEST(the_refusal_names_the_quoted_string_and_both_ways_out) {
    const std::string message = disallowed_message("\"<|endoftext|>\"");
    CHECK(message.starts_with("Encountered text corresponding to disallowed special token \"<|endoftext|>\".\n"));
    CHECK(message.find("`allowed_special={\"<|endoftext|>\", ...}`") != std::string::npos);
    CHECK(message.ends_with("passing `disallowed_special=()`, or use `encode_ordinary`."));
}

TEST_MAIN()
