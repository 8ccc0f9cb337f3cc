// The text argument of an encode, count or truncate call, as UTF-8.
//
// A str that is not ASCII holds no UTF-8: the interpreter makes it on request and keeps it with the str
// (PyUnicode_AsUTF8AndSize), at about one byte per nanosecond. One curly quote or emoji makes a whole
// str two or four bytes per character. A long str that is ASCII but for such characters is converted here
// instead, sixteen characters at a time, into a buffer that the call owns and the thread keeps for its
// next call. Other strs keep the interpreter's UTF-8, which a second call with the same str finds made.
#pragma once
#include "python/pyref.h"

#include "core/scratch.h"

#include <cstddef>
#include <string_view>

namespace lexaro::py {

// Strs shorter than this many characters always take the interpreter's UTF-8.
inline constexpr size_t OWN_CONVERSION_CHARS = size_t(1) << 14;

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
