// Core-only encode speed (no Python) of one file: the first pass over it, then the same text again.
//   build/bench/bench_core_encode ENCODING FILE [runs] [WARMUP_FILE]
// The encoding is loaded and one word encoded first; with WARMUP_FILE that text is encoded too, so the
// first pass runs in a warm process over text it has not seen. Runs after the first are the hot figure.
// With runs 0 nothing is measured: under cachegrind, which cannot restrict its counts to a function, that run
// is the baseline to subtract. Under callgrind, collect only the measured passes:
//   valgrind --tool=callgrind --toggle-collect='measured_pass*' build/bench/bench_core_encode ... 1
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>
#include <time.h>

// CPU time of this thread: steadier than the wall clock on a machine that other work shares.
static double thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

#include "core/fileio.h"
#include "core/tokenizer.h"

[[gnu::noinline]] size_t measured_pass(const lexaro::Tokenizer& tok, std::string_view text) {
    return tok.encode(text).size();
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ENCODING FILE [runs] [WARMUP_FILE]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(0, std::atoi(argv[3])) : 5;
    auto tok = lexaro::Tokenizer::create(argv[1]);
    if (!tok) {
        std::fprintf(stderr, "%s\n", tok.error().c_str());
        return 1;
    }
    const lexaro::FileRead f = lexaro::read_whole_file(argv[2], SIZE_MAX);
    if (!f.ok()) {
        std::fprintf(stderr, "%s: %s\n", argv[2], f.error.c_str());
        return 1;
    }
    tok->encode("hello");
    if (argc > 4) {
        const lexaro::FileRead w = lexaro::read_whole_file(argv[4], SIZE_MAX);
        if (!w.ok()) {
            std::fprintf(stderr, "%s: %s\n", argv[4], w.error.c_str());
            return 1;
        }
        tok->encode(std::string_view(reinterpret_cast<const char*>(w.bytes.data()), w.bytes.size()));
    }
    const std::string_view text(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
    std::vector<double> secs;
    size_t tokens = 0;
    long faults_first = 0;
    std::vector<double> cpu;
    for (int r = 0; r < runs; ++r) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = thread_seconds();
        tokens = measured_pass(*tok, text);
        cpu.push_back(thread_seconds() - c0);
        secs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        getrusage(RUSAGE_SELF, &after);
        if (r == 0) faults_first = after.ru_minflt - before.ru_minflt;
    }
    if (runs == 0) return 0;
    const double first = secs[0];
    std::printf("%s %s: %zu bytes, %zu tokens; first pass %.1f MB/s (CPU time %.1f MB/s, %ld page faults)", argv[1],
                argv[2], text.size(), tokens, text.size() / first / 1e6, text.size() / cpu[0] / 1e6, faults_first);
    if (runs > 1) {
        std::vector<double> hot(secs.begin() + 1, secs.end());
        std::sort(hot.begin(), hot.end());
        const double s = hot[hot.size() / 2];
        std::vector<double> hot_cpu(cpu.begin() + 1, cpu.end());
        std::sort(hot_cpu.begin(), hot_cpu.end());
        std::printf("; hot median %.1f MB/s (CPU time %.1f MB/s), %.2f Mtok/s (%d runs)", text.size() / s / 1e6,
                    text.size() / hot_cpu[hot_cpu.size() / 2] / 1e6, tokens / s / 1e6, runs - 1);
    }
    std::printf("\n");
    return 0;
}
