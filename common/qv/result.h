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

// Propagation, so that "on failure return the error" is written once. The enclosing function
// returns a Result or Status whose error type can be made from the error of `expr`.

// Returns the error of `expr` (a Result or Status) from the enclosing function.
#define QV_TRY(expr)                                       \
  do {                                                     \
    if (auto&& qv_try_result_ = (expr); !qv_try_result_) { \
      return ::qv::Err{std::move(qv_try_result_.error())}; \
    }                                                      \
  } while (false)

// Declares `name` holding the value of `expr` (a Result), or returns its error.
#define QV_TRY_VALUE(name, expr) QV_TRY_VALUE_IMPL_(QV_TRY_CONCAT_(qv_try_, __LINE__), name, expr)

#define QV_TRY_CONCAT_(a, b) QV_TRY_CONCAT2_(a, b)
#define QV_TRY_CONCAT2_(a, b) a##b
// `tmp` and `name` are declared names, which cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QV_TRY_VALUE_IMPL_(tmp, name, expr)           \
  auto tmp = (expr);                                  \
  if (!tmp) return ::qv::Err{std::move(tmp.error())}; \
  auto name = std::move(*tmp)
// NOLINTEND(bugprone-macro-parentheses)
