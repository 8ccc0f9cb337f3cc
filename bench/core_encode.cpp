// Core-only encode speed (no Python): counts the tokens of a file, median of several runs.
//   build/bench/bench_core_encode ENCODING FILE [runs]
// Handy under `valgrind --tool=callgrind` to see where the instructions of the hot path go.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/fileio.h"
#include "core/tokenizer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ENCODING FILE [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    auto tok = lexaro::Tokenizer::create(argv[1]);
    if (!tok) {
        std::fprintf(stderr, "%s\n", tok.error().c_str());
        return 1;
    }
    const lexaro::FileRead f = lexaro::read_whole_file(argv[2]);
    if (!f.ok()) {
        std::fprintf(stderr, "%s: %s\n", argv[2], f.error.c_str());
        return 1;
    }
    const std::string_view text(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
    std::vector<double> secs;
    size_t tokens = 0;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        tokens = tok->encode(text).size();
        secs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(secs.begin(), secs.end());
    const double s = secs[secs.size() / 2];
    std::printf("%s %s: %zu bytes, %zu tokens, median %.1f MB/s, %.2f Mtok/s (%d runs)\n", argv[1], argv[2], text.size(),
                tokens, text.size() / s / 1e6, tokens / s / 1e6, runs);
    return 0;
}
