// A small value-or-error type: operations report failure as a value, never by throwing.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace qv {

template <class E>
struct Err {
  // A constructor rather than an aggregate, so that Err(x) also works where parenthesised
  // aggregate initialisation is not available (clang 14).
  explicit Err(E v) : value(std::move(v)) {}
  E value;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  template <class G>
  Result(Err<G> e) : v_(std::in_place_index<1>, E(std::move(e.value))) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// Result of an operation that yields nothing on success.
struct Unit {};

template <class E>
using Status = Result<Unit, E>;

inline constexpr Unit kOk{};

}  // namespace qv
