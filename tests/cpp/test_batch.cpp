// Batch operations: results equal the single-text operations whatever the thread count, empty batches,
// the special path's fallback on bytes that are not UTF-8, worker caches parked for the next batch, the
// parsing of control-group CPU quotas, and two parts of one job run side by side.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "check.h"
#include "core/fan_out.h"
#include "core/pcache.h"
#include "core/threads.h"
#include "core/tokenizer.h"

using namespace lexaro;

namespace {

const Tokenizer& tok(int i) {
    static const Tokenizer all[] = {std::move(*Tokenizer::create("cl100k_base")),
                                    std::move(*Tokenizer::create("o200k_base")),
                                    std::move(*Tokenizer::create("o200k_harmony"))};
    return all[i];
}

// Texts of very different lengths and kinds, empty ones and special strings among them.
std::vector<std::string> sample_texts() {
    std::vector<std::string> out = {
        "",
        "a",
        "Hello world",
        "<|endoftext|>",
        "before <|endoftext|> after<|fim_prefix|>x<|endofprompt|>",
        "<|start|>assistant<|channel|>final<|message|>Hi<|end|>",
        "  \n\n\t  indented\r\n",
        "Ünïcödé wörds, \xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82, "
        "\xe4\xbd\xa0\xe5\xa5\xbd\xe4\xb8\x96\xe7\x95\x8c",
        "12345678901234567890 3.14159 0x7fff",
        "",
    };
    std::string long_text;
    for (int i = 0; i < 400; ++i) long_text += "The quick brown fox #" + std::to_string(i * 7919) + " jumps. ";
    out.push_back(long_text);
    for (int i = 0; i < 60; ++i)
        out.push_back(std::string(size_t(i * 13 % 97), char('a' + i % 26)) + " x" + std::to_string(i));
    return out;
}

std::vector<std::string_view> views(const std::vector<std::string>& texts) { return {texts.begin(), texts.end()}; }

bool same_truncation(const Truncation& a, const Truncation& b) {
    return a.byte_len == b.byte_len && a.total_tokens == b.total_tokens && a.kept_tokens == b.kept_tokens;
}

}  // namespace

// Whatever other cases left behind: a batch parks the calling thread's caches in the pool before its
// workers start, so the workers here find room in the byte budget for caches of their own.
TEST(worker_caches_are_parked_in_the_pool_when_the_batch_ends) {
    const Tokenizer fresh = std::move(*Tokenizer::create("cl100k_base"));
    const std::vector<std::string> texts = sample_texts();
    const std::vector<std::string_view> v = views(texts);
    fresh.count_batch(v, 2, false);
    const std::vector<uint64_t> pooled = pooled_cache_ids();
    CHECK(std::count(pooled.begin(), pooled.end(), fresh.tokenizer_id) >= 1);
    const std::vector<uint64_t> held = held_cache_ids();  // the calling thread did no per-text work
    CHECK(std::count(held.begin(), held.end(), fresh.tokenizer_id) == 0);
}

TEST(batch_results_equal_single_text_operations_for_every_thread_count) {
    const std::vector<std::string> texts = sample_texts();
    const std::vector<std::string_view> v = views(texts);
    for (int t = 0; t < 3; ++t) {
        const Tokenizer& k = tok(t);
        for (bool with_special : {false, true}) {
            for (uint64_t threads : {1, 0, 2, 64}) {
                const auto ids = k.encode_batch(v, threads, with_special);
                const auto counts = k.count_batch(v, threads, with_special);
                CHECK_EQ(ids.size(), v.size());
                CHECK_EQ(counts.size(), v.size());
                for (size_t i = 0; i < v.size() && i < ids.size(); ++i) {
                    const auto want = with_special ? k.encode_with_special(v[i]) : k.encode(v[i]);
                    CHECK(ids[i] == want);
                    CHECK_EQ(counts[i], uint32_t(want.size()));
                }
            }
        }
        for (uint64_t max_tokens : {0, 1, 3, 1000000}) {
            for (uint64_t threads : {1, 0, 2, 64}) {
                const auto cuts = k.truncate_batch(v, max_tokens, threads);
                CHECK_EQ(cuts.size(), v.size());
                for (size_t i = 0; i < v.size() && i < cuts.size(); ++i)
                    CHECK(same_truncation(cuts[i], k.truncate(v[i], max_tokens)));
            }
        }
    }
}

TEST(special_strings_become_ids_only_with_special) {
    const Tokenizer& k = tok(0);
    const std::string_view text[] = {"x<|endoftext|>"};
    const uint32_t eot = *k.eot_token();
    for (uint64_t threads : {1, 2}) {
        const auto plain = k.encode_batch(text, threads, false);
        const auto special = k.encode_batch(text, threads, true);
        CHECK(std::find(plain[0].begin(), plain[0].end(), eot) == plain[0].end());
        CHECK(!special[0].empty() && special[0].back() == eot);
        CHECK(k.count_batch(text, threads, true)[0] == special[0].size());
        CHECK(k.count_batch(text, threads, false)[0] == plain[0].size());
    }
}

TEST(empty_batch_gives_empty_results) {
    const std::span<const std::string_view> none;
    for (uint64_t threads : {0, 1, 8}) {
        CHECK(tok(0).encode_batch(none, threads, false).empty());
        CHECK(tok(1).encode_batch(none, threads, true).empty());
        CHECK(tok(0).count_batch(none, threads, true).empty());
        CHECK(tok(2).truncate_batch(none, 5, threads).empty());
    }
}

TEST(special_strings_are_recognised_in_bytes_that_are_not_utf8) {
    // The split works on bytes: the stretches around the special string are encoded as ordinary bytes.
    const std::string bad = "\xff<|endoftext|>\xc3";
    const std::string_view texts[] = {bad, "<|endoftext|>"};
    std::vector<uint32_t> want = tok(0).encode("\xff");
    want.push_back(100257);
    for (uint32_t id : tok(0).encode("\xc3")) want.push_back(id);
    for (uint64_t threads : {1, 2}) {
        const auto ids = tok(0).encode_batch(texts, threads, true);
        CHECK(ids[0] == want);
        CHECK(ids[1] == tok(0).encode_with_special(texts[1]));
        const std::vector<uint64_t> counts = tok(0).count_batch(texts, threads, true);
        CHECK_EQ(counts[0], uint64_t(want.size()));
    }
}

TEST(cgroup_quota_parsing) {
    CHECK_EQ(cgroup_v2_limit("max 100000"), uint64_t(0));
    CHECK_EQ(cgroup_v2_limit("max 100000\n"), uint64_t(0));
    CHECK_EQ(cgroup_v2_limit("150000 100000"), uint64_t(2));
    CHECK_EQ(cgroup_v2_limit("200000 100000\n"), uint64_t(2));
    CHECK_EQ(cgroup_v2_limit("50000 100000"), uint64_t(1));
    CHECK_EQ(cgroup_v2_limit(""), uint64_t(0));
    CHECK_EQ(cgroup_v2_limit("garbage"), uint64_t(0));
    CHECK_EQ(cgroup_v1_limit("-1", "100000"), uint64_t(0));
    CHECK_EQ(cgroup_v1_limit("-1\n", "100000\n"), uint64_t(0));
    CHECK_EQ(cgroup_v1_limit("100000", "100000"), uint64_t(1));
    CHECK_EQ(cgroup_v1_limit("250000\n", "100000\n"), uint64_t(3));
    CHECK_EQ(cgroup_v1_limit("100000", ""), uint64_t(0));
    CHECK_EQ(cgroup_v1_limit("100000", "0"), uint64_t(0));
    CHECK(available_parallelism() >= 1);
}

// Two parts of one job side by side (the vocabulary build): both run, on two threads where two processors
// may be used, and a fault on either side reaches the caller only after the other side has ended.
TEST(side_by_side_runs_both_and_returns_faults_after_both_end) {
    std::thread::id side_thread, main_thread;
    run_side_by_side([&] { side_thread = std::this_thread::get_id(); },
                     [&] { main_thread = std::this_thread::get_id(); });
    CHECK(main_thread == std::this_thread::get_id());
    CHECK(side_thread != std::thread::id());
    if (available_parallelism() >= 2) CHECK(side_thread != main_thread);

    std::atomic<bool> main_ran{false};
    bool side_fault = false;
    try {
        run_side_by_side([] { throw std::runtime_error("side"); }, [&] { main_ran = true; });
    } catch (const std::runtime_error& e) {
        side_fault = std::string(e.what()) == "side";
    }
    CHECK(side_fault);
    CHECK(main_ran);

    std::atomic<bool> side_done{false};
    bool main_fault = false;
    try {
        run_side_by_side(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                side_done = true;
            },
            [] { throw std::runtime_error("main"); });
    } catch (const std::runtime_error& e) {
        main_fault = std::string(e.what()) == "main" && side_done;
    }
    CHECK(main_fault);
}

TEST_MAIN()
