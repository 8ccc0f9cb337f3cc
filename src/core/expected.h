// A value or an error message: the result type of every loader.
#pragma once
#include <string>
#include <utility>
#include <variant>

namespace lexaro {

struct Error {
    std::string message;
};

template <class T>
class Expected {
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
