// The platform services as every build sees them (natively, under QEMU and under Wine): file reads and
// their error texts, processor and memory counts, the cleanup of per-thread values at thread exit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "core/platform.h"

using namespace lexaro;

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::mutex cleaned_mutex;
std::vector<const int*> cleaned;  // the values cleaned up, in any order

void record_cleanup(void* value) {
    const std::lock_guard<std::mutex> lock(cleaned_mutex);
    cleaned.push_back(static_cast<const int*>(value));
}

}  // namespace

TEST(file_reads_and_their_errors) {
    const std::string dir = LEXARO_TEST_DATA_DIR;
    const FileRead small = read_whole_file(dir + "/uniclass.bin", 100);  // cut at max_bytes
    CHECK(small.ok());
    CHECK_EQ(small.bytes.size(), size_t(100));

    // "file not found" is code 2 on POSIX (ENOENT) and on Windows (ERROR_FILE_NOT_FOUND) alike
    const FileRead missing = read_whole_file(dir + "/no such file", 100);
    std::printf("  missing file: %s\n", missing.error.c_str());
    CHECK(!missing.opened);
    CHECK(ends_with(missing.error, " (os error 2)") && missing.error.size() > 14);

    const FileRead directory = read_whole_file(dir, 100);
    std::printf("  directory: %s\n", directory.error.c_str());
    CHECK(directory.opened && !directory.ok() && directory.bytes.empty());
    CHECK(ends_with(directory.error, ")") && directory.error.find(" (os error ") != std::string::npos);

    const FileRead nul = read_whole_file(dir + std::string("/uniclass.bin\0x", 15), 100);
    CHECK(!nul.opened && nul.error == "file name contained an unexpected NUL byte");
}

TEST(error_texts_carry_the_code) {
    for (int code : {1, 2, 5, 22}) {
        const std::string text = os_error_text(code);
        CHECK(ends_with(text, " (os error " + std::to_string(code) + ")"));
        CHECK(text.size() > std::string(" (os error )").size() + 2);  // a message before the code
    }
}

TEST(machine_counts) {
    std::printf("  processors %llu, memory %llu MiB\n", (unsigned long long)system_processors(),
                (unsigned long long)(physical_memory_bytes() >> 20));
    CHECK(system_processors() >= 1);
    CHECK(physical_memory_bytes() >= (uint64_t(64) << 20));
}

// Each ending thread that set a value has its last value cleaned up, once; one that set none, nothing.
// Run in rounds of several threads at once: ends of threads racing each other.
TEST(thread_exit_cleanup) {
    const ThreadExitKey key = new_thread_exit_key(record_cleanup);
    CHECK(key.ok);
    int first[8] = {}, last[8] = {};
    std::vector<const int*> want;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                if (i == 7) return;
                if (i % 2 == 0) CHECK(set_thread_exit_value(key, &first[i]));
                CHECK(set_thread_exit_value(key, &last[i]));
            });
        for (std::thread& t : threads) t.join();
        for (int i = 0; i < 7; ++i) want.push_back(&last[i]);
    }
    const std::lock_guard<std::mutex> lock(cleaned_mutex);
    std::sort(cleaned.begin(), cleaned.end());
    std::sort(want.begin(), want.end());
    CHECK(cleaned == want);
}

TEST_MAIN()
