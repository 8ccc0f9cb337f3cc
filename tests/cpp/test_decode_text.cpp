// Decoded bytes as text: the errors modes by name, bytes passed through as they are, the first fault under
// strict, substitution under replace and removal under ignore.
#include <string>

#include "check.h"
#include "core/decode_text.h"

using namespace lexaro;

TEST(errors_modes_by_name) {
    CHECK(errors_mode("strict") == ErrorsMode::Strict);
    CHECK(errors_mode("ignore") == ErrorsMode::Ignore);
    CHECK(errors_mode("replace") == ErrorsMode::Replace);
    for (const char* other : {"", "Strict", "strict ", "surrogateescape", "backslashreplace"})
        CHECK(errors_mode(other) == ErrorsMode::Replace);
}

TEST(valid_bytes_are_the_text_unless_ignore_drops_replacement_characters) {
    const std::string valid = "h\xC3\xA9llo \xEF\xBF\xBD!";  // ends with a U+FFFD of its own
    CHECK(decoded_text(valid, ErrorsMode::Replace).as_is);
    CHECK(decoded_text(valid, ErrorsMode::Strict).as_is);
    const DecodedText ignored = decoded_text(valid, ErrorsMode::Ignore);
    CHECK(!ignored.as_is && !ignored.fault);
    CHECK_EQ(ignored.text, std::string("h\xC3\xA9llo !"));
    CHECK(decoded_text("", ErrorsMode::Strict).as_is);
}

TEST(invalid_bytes_by_mode) {
    const DecodedText strict = decoded_text(
        "a\xFF"
        "b",
        ErrorsMode::Strict);
    CHECK(strict.fault.has_value() && strict.fault->valid_up_to == 1 && strict.fault->error_len == 1);
    CHECK_EQ(decoded_text("a\xFF"
                          "b",
                          ErrorsMode::Replace)
                 .text,
             std::string("a\xEF\xBF\xBD"
                         "b"));
    CHECK_EQ(decoded_text("a\xFF"
                          "b",
                          ErrorsMode::Ignore)
                 .text,
             std::string("ab"));
    // a text that ends inside a character: no error length; one replacement for the maximal subpart
    const DecodedText cut = decoded_text("ab\xE4\xB8", ErrorsMode::Strict);
    CHECK(cut.fault.has_value() && cut.fault->valid_up_to == 2 && cut.fault->error_len == 0);
    CHECK_EQ(decoded_text("ab\xE4\xB8", ErrorsMode::Replace).text, std::string("ab\xEF\xBF\xBD"));
    // the valid part before the fault keeps its own U+FFFD under replace, loses it under ignore
    CHECK_EQ(decoded_text("\xEF\xBF\xBD\xC0", ErrorsMode::Replace).text, std::string("\xEF\xBF\xBD\xEF\xBF\xBD"));
    CHECK_EQ(decoded_text("\xEF\xBF\xBD\xC0", ErrorsMode::Ignore).text, std::string());
}

TEST(strict_failures_name_the_kind_of_fault_and_where_it_starts) {
    CHECK_EQ(strict_fault_message(*decoded_text("abc\xE4\xB8", ErrorsMode::Strict).fault),
             std::string("invalid utf-8 in decode: incomplete utf-8 byte sequence from index 3"));
    CHECK_EQ(strict_fault_message(*decoded_text("\xC3\xA9\xE4\xB8x", ErrorsMode::Strict).fault),
             std::string("invalid utf-8 in decode: invalid utf-8 sequence of 2 bytes from index 2"));
}

TEST_MAIN()
