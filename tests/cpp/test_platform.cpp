// The platform services as every build sees them (natively, under QEMU and under Wine): file reads and
// their error texts, processor and memory counts.
#include <cstdint>
#include <cstdio>
#include <string>

#include "check.h"
#include "core/platform.h"

using namespace lexaro;

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
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

TEST_MAIN()
