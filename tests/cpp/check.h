// A minimal test harness: CHECK records failures, TEST registers a case, main runs them all. Cases must
// not depend on each other's order: with CHECK_SHUFFLE=<seed> in the environment they run shuffled. A
// program whose every case called check::skip exits with 77, which ctest reports as a skip.
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace check {

struct Case {
    const char* name;
    std::function<void()> fn;
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}
inline int& failures() {
    static int n = 0;
    return n;
}

inline bool& skipped() {
    static bool flag = false;
    return flag;
}

// Ends nothing by itself: the case returns after calling it.
inline void skip(const char* why) {
    std::printf("  skipped: %s\n", why);
    skipped() = true;
}

struct Register {
    Register(const char* name, std::function<void()> fn) { cases().push_back({name, std::move(fn)}); }
};

inline int run_all() {
    std::vector<Case> order = cases();
    if (const char* seed = std::getenv("CHECK_SHUFFLE")) {
        std::shuffle(order.begin(), order.end(), std::mt19937(unsigned(std::strtoul(seed, nullptr, 10))));
        std::printf("cases shuffled with seed %s\n", seed);
    }
    int failed_cases = 0;
    int skipped_cases = 0;
    for (const Case& c : order) {
        const int before = failures();
        skipped() = false;
        c.fn();
        const bool ok = failures() == before;
        failed_cases += !ok;
        skipped_cases += ok && skipped();
        std::printf("%s %s\n", !ok ? "FAIL" : skipped() ? "skip" : "ok  ", c.name);
    }
    const int n = int(order.size());
    std::printf("%d passed, %d skipped, %d failed\n", n - failed_cases - skipped_cases, skipped_cases, failed_cases);
    if (failed_cases > 0) return 1;
    return skipped_cases == n && n > 0 ? 77 : 0;
}

}  // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b) CHECK_CAT2(a, b)
#define TEST(name)                                             \
    static void name();                                        \
    static check::Register CHECK_CAT(reg_, name)(#name, name); \
    static void name()

#define CHECK(cond)                                                                \
    do {                                                                           \
        if (!(cond)) {                                                             \
            ++check::failures();                                                   \
            std::printf("  %s:%d: CHECK(%s) failed\n", __FILE__, __LINE__, #cond); \
        }                                                                          \
    } while (0)

#define CHECK_EQ(a, b)                                                                              \
    do {                                                                                            \
        const auto& check_a_ = (a);                                                                 \
        const auto& check_b_ = (b);                                                                 \
        if (!(check_a_ == check_b_)) {                                                              \
            ++check::failures();                                                                    \
            std::printf("  %s:%d: CHECK_EQ(%s, %s) failed: %s vs %s\n", __FILE__, __LINE__, #a, #b, \
                        check::show(check_a_).c_str(), check::show(check_b_).c_str());              \
        }                                                                                           \
    } while (0)

namespace check {
template <class T>
std::string show(const T& v) {
    if constexpr (std::is_arithmetic_v<T>)
        return std::to_string(v);
    else if constexpr (std::is_convertible_v<T, std::string>) {
        std::string quoted(1, '"');  // appended, not "\"" + ...: GCC 12 warns wrongly about that (-Wrestrict)
        quoted += v;
        return quoted + '"';
    } else
        return "?";
}
}  // namespace check

#define TEST_MAIN() \
    int main() { return check::run_all(); }
