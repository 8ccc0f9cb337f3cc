#include "core/id_items.h"

#include <cstring>
#include <limits>

namespace lexaro {

namespace {

template <class T>
ItemFault append_items(const char* p, ptrdiff_t stride, size_t n, std::vector<uint32_t>& out) {
    for (size_t i = 0; i < n; ++i, p += stride) {
        T v;
        std::memcpy(&v, p, sizeof(T));
        if (v < 0 || uint64_t(v) > 0xFFFFFFFFull)
            return v > 0 && uint64_t(v) > uint64_t(std::numeric_limits<int64_t>::max()) ? ItemFault::BeyondInt64
                                                                                        : ItemFault::OutOfRange;
        out.push_back(uint32_t(v));
    }
    return ItemFault::None;
}

}  // namespace

char native_integer_code(const char* format) {
    if (*format == '@' || *format == '=') ++format;  // native order and size
    return format[0] != 0 && format[1] == 0 && std::strchr("bBhHiIlLqQ", format[0]) != nullptr ? format[0] : 0;
}

ItemFault append_id_items(const char* data, ptrdiff_t stride, size_t n, char code, std::vector<uint32_t>& out) {
    switch (code) {
        case 'b':
            return append_items<signed char>(data, stride, n, out);
        case 'B':
            return append_items<unsigned char>(data, stride, n, out);
        case 'h':
            return append_items<short>(data, stride, n, out);
        case 'H':
            return append_items<unsigned short>(data, stride, n, out);
        case 'i':
            return append_items<int>(data, stride, n, out);
        case 'I':
            return append_items<unsigned int>(data, stride, n, out);
        case 'l':
            return append_items<long>(data, stride, n, out);
        case 'L':
            return append_items<unsigned long>(data, stride, n, out);
        case 'q':
            return append_items<long long>(data, stride, n, out);
        default:
            return append_items<unsigned long long>(data, stride, n, out);
    }
}

}  // namespace lexaro
