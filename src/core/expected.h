// A value or an error message: the result type of every loader.
//
// How the core reports failure:
// - a failure a caller must expect (a data file that is missing, short or malformed, an unknown encoding
//   name, text that is not a special token, ...) is a value: an Expected holding an Error, an empty
//   std::optional, or a fault code such as ItemFault, never an exception;
// - only a failed allocation throws (std::bad_alloc), which the binding turns into MemoryError; memory is
//   owned by values (vectors, mapped tables with destructors), so the throw frees what the call had
//   allocated and the tokenizer stays usable;
// - a broken invariant is a bug: the binding reports any other exception as its internal-fault exception.
#pragma once
#include <string>
#include <utility>
#include <variant>

namespace lexaro {

struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : v_(std::move(value)) {}
    Expected(Error e) : v_(std::move(e)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    const std::string& error() const { return std::get<1>(v_).message; }
    Error take_error() { return std::move(std::get<1>(v_)); }

private:
    std::variant<T, Error> v_;
};

}  // namespace lexaro
