// Construction time of each built-in encoding: median of several builds.
//   cmake --build build/bench --target bench_construct && build/bench/bench_construct [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/tokenizer.h"

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    for (std::string_view name : lexaro::BUILTIN_NAMES) {
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            auto tok = lexaro::Tokenizer::create(name);
            const auto t1 = std::chrono::steady_clock::now();
            if (!tok) {
                std::fprintf(stderr, "%s\n", tok.error().c_str());
                return 1;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-14s construction: median %7.1f ms  (min %.1f, max %.1f, %d runs)\n", std::string(name).c_str(),
                    ms[ms.size() / 2], ms.front(), ms.back(), runs);
    }
    return 0;
}
