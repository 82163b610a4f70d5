#include "runtime/variant.h"

#include <cmath>
#include <cwchar>
#include <cwctype>

#include "runtime/errors.h"

namespace runtime {
namespace {

long RoundToLong(double d)
{
    if (!std::isfinite(d)) Raise(err::Overflow);
    double r = std::nearbyint(d);  // the default rounding mode rounds halves to even
    if (r < -2147483648.0 || r > 2147483647.0) Raise(err::Overflow);
    return static_cast<long>(r);
}

}  // namespace

std::wstring CStr(const Variant& value)
{
    struct {
        std::wstring operator()(std::monostate) const { return L""; }
        std::wstring operator()(Null) const { Raise(err::InvalidUseOfNull); }
        std::wstring operator()(const std::wstring& s) const { return s; }
        std::wstring operator()(long n) const { return Str(n); }
        std::wstring operator()(double d) const
        {
            wchar_t text[32];
            std::swprintf(text, std::size(text), L"%.15G", d);
            return text;
        }
    } visit;
    return std::visit(visit, value);
}

long CLng(const Variant& value)
{
    struct {
        long operator()(std::monostate) const { return 0; }
        long operator()(Null) const { Raise(err::InvalidUseOfNull); }
        long operator()(long n) const { return n; }
        long operator()(double d) const { return RoundToLong(d); }
        long operator()(const std::wstring& s) const
        {
            const wchar_t* begin = s.c_str();
            wchar_t* end = nullptr;
            double d = std::wcstod(begin, &end);
            while (end && std::iswspace(*end)) ++end;
            if (end == begin || *end != L'\0') Raise(err::TypeMismatch);
            return RoundToLong(d);
        }
    } visit;
    return std::visit(visit, value);
}

std::wstring Str(long number) { return std::to_wstring(number); }

}  // namespace runtime
