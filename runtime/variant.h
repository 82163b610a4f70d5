#pragma once
#include <string>
#include <variant>

namespace runtime {

struct Null {};

// A value of any of the kinds the program passes around: nothing yet (Empty),
// Null, text, a 32-bit integer or a floating-point number.
using Variant = std::variant<std::monostate, Null, std::wstring, long, double>;

// Value to text. Null has no text form: run-time error 94.
std::wstring CStr(const Variant& value);

// Value to a 32-bit integer, rounding halves to even. Null raises 94, text that is
// not a number raises 13, a value beyond the 32-bit range raises 6.
long CLng(const Variant& value);

// Integer to decimal text.
std::wstring Str(long number);

}  // namespace runtime
