#pragma once
#include <string>
#include <string_view>

// The system's "A" functions take text in the ANSI code page; the program keeps wide text.
namespace runtime {

// Never maps a character to a different one (no "best fit": a full-width quotation
// mark must not become a real one in a command line); what the code page lacks
// becomes its default character, and REPLACED, when given, tells whether that happened.
std::string ToAnsi(std::wstring_view text, bool* replaced = nullptr);
std::wstring FromAnsi(std::string_view text);

// True when TEXT comes back from the ANSI code page exactly as it went.
bool SurvivesAnsi(std::wstring_view text);

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
