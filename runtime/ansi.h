#pragma once
#include <string>
#include <string_view>

// The system's "A" functions take text in the ANSI code page; the program keeps wide text.
namespace runtime {

std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view text);

// One text argument of an "A" call, passed by reference: the ANSI copy lives for the
// call, and when it ends the caller's variable receives the copy converted back, the
// way a buffer the call wrote into reaches the program.
class AnsiRef {
public:
    explicit AnsiRef(std::wstring& text) : text_(text), ansi_(ToAnsi(text)) {}
    ~AnsiRef();
    AnsiRef(const AnsiRef&) = delete;
    AnsiRef& operator=(const AnsiRef&) = delete;

    char* get() { return ansi_.data(); }

private:
    std::wstring& text_;
    std::string ansi_;
};

}  // namespace runtime
