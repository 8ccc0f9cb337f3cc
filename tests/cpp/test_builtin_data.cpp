// The tables linked into the library (by .incbin or as generated arrays) are the files of data/, byte
// for byte, read here through the platform's own file reader.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "check.h"
#include "core/builtin_data.h"
#include "core/platform.h"

using namespace lexaro;

namespace {

void check_same(const char* file, std::span<const uint8_t> built_in) {
    const FileRead f = read_whole_file(std::string(LEXARO_TEST_DATA_DIR) + "/" + file, size_t(64) << 20);
    if (!f.ok()) std::printf("  %s: %s\n", file, f.error.c_str());
    CHECK(f.ok());
    CHECK_EQ(built_in.size(), f.bytes.size());
    CHECK(built_in.size() == f.bytes.size() && std::equal(built_in.begin(), built_in.end(), f.bytes.begin()));
    CHECK(built_in.size() > 0 && built_in.data()[built_in.size()] == 0);  // the zero byte after each table
}

}  // namespace

TEST(embedded_tables_equal_the_data_files) {
    check_same("cl100k.vocab", builtin::cl100k_vocab());
    check_same("o200k.vocab", builtin::o200k_vocab());
    check_same("cl100k.special", builtin::cl100k_special());
    check_same("o200k.special", builtin::o200k_special());
    check_same("o200k_harmony.special", builtin::o200k_harmony_special());
    check_same("uniclass.bin", builtin::uniclass());
    check_same("uniclass_o200k.bin", builtin::uniclass_o200k());
}

TEST(tables_start_aligned) {
    for (const auto& s :
         {builtin::cl100k_vocab(), builtin::o200k_vocab(), builtin::uniclass(), builtin::uniclass_o200k()})
        CHECK_EQ(reinterpret_cast<uintptr_t>(s.data()) % 16, uintptr_t(0));
}

TEST_MAIN()
