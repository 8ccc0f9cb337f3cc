// The UTF-8 of the texts that encode, count and truncate take, single or in a batch.
//
// A str that is not ASCII holds no UTF-8: the interpreter makes it on request and keeps it with the str
// (PyUnicode_AsUTF8AndSize), at about one byte per nanosecond. One curly quote or emoji makes a whole
// str two or four bytes per character. A long str that is ASCII but for such characters is converted here
// instead, sixteen characters at a time, into a buffer that the call owns (for a single text, the thread
// keeps it for its next call). Other strs keep the interpreter's UTF-8, which a second call with the
// same str then finds made.
#pragma once
#include "python/pyref.h"

#include "core/scratch.h"
#include "core/utf8_units.h"

#include <cstddef>
#include <string_view>

namespace lexaro::py {

// Strs shorter than this many characters always take the interpreter's UTF-8.
inline constexpr size_t OWN_CONVERSION_CHARS = size_t(1) << 14;

// For a str (ready) whose UTF-8 is to be made here, the most bytes it may take; 0 when the interpreter's
// is to be used: the str is ASCII or short, keeps its UTF-8 already, or is not mostly ASCII.
size_t own_utf8_bound(PyObject* str);

// Writes the str's UTF-8 to room (bound + UNITS_OUT_SLACK bytes, bound from own_utf8_bound) and returns
// its length; NOT_CONVERTED where it holds a surrogate or needs more bytes than bound.
size_t own_utf8(PyObject* str, char* room, size_t bound);

// The text argument of a single-text call.
class MainText {
public:
    MainText() = default;
    MainText(const MainText&) = delete;
    MainText& operator=(const MainText&) = delete;
    ~MainText();  // the buffer goes back to the thread for its next call, unless it grew large

    std::string_view view;  // valid while this object and the str live

    // A buffer of at least `bytes` for this call; throws std::bad_alloc.
    char* room(size_t bytes);

private:
    TextRoom room_;
};

// As to_text, with the conversion above where it applies. A lone surrogate raises the interpreter's
// UnicodeEncodeError, as there.
bool to_main_text(PyObject* obj, const char* param, MainText& out);

}  // namespace lexaro::py
