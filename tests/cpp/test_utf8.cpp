// UTF-8 checking and lossy conversion: first fault and maximal-subpart replacement.
#include "check.h"
#include "core/utf8.h"

using namespace lexaro;

TEST(first_fault) {
    struct Case {
        std::string_view bytes;
        size_t valid_up_to, error_len;  // error_len 0: the input ends inside a character
    } cases[] = {
        {"abc", 3, 0},
        {"a\x80", 1, 1},
        {"\xc3", 0, 0},
        {"\xe4\xb8", 0, 0},
        {"\xe4\xb8x", 0, 2},
        {"\xf0\x9f\x98", 0, 0},
        {"\xf5", 0, 1},
        {"ab\xff", 2, 1},
        {"\xc0\xaf", 0, 1},
        {"\xed\xa0\x80", 0, 1},
        {"\xf4\x90\x80\x80", 0, 1},
        {"\xe0\x80", 0, 1},
        {"\xf0\x90\x80x", 0, 3},
    };
    for (const Case& c : cases) {
        const Utf8Fault f = utf8_check(c.bytes);
        CHECK_EQ(f.valid_up_to, c.valid_up_to);
        CHECK_EQ(f.error_len, c.error_len);
    }
}

TEST(lossy_replaces_maximal_subparts) {
    CHECK(utf8_lossy("a\xe4\xb8z") == "a\xef\xbf\xbdz");                          // truncated sequence: one U+FFFD
    CHECK(utf8_lossy("\xed\xa0\x80") == "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // never valid: one each
    CHECK(utf8_lossy("\xf0\x9f\x98\x80") == "\xf0\x9f\x98\x80");
    CHECK(utf8_lossy("") == "");
}

TEST_MAIN()
