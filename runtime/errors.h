#pragma once
#include <exception>
#include <new>
#include <string>

namespace runtime {

// Numbers of the run-time errors the runtime's services raise.
namespace err {
inline constexpr long InvalidCall = 5;
inline constexpr long Overflow = 6;
inline constexpr long OutOfMemory = 7;
inline constexpr long TypeMismatch = 13;
inline constexpr long FileNotFound = 53;
inline constexpr long PathFileAccess = 75;
inline constexpr long InvalidUseOfNull = 94;
inline constexpr long ObjectUnloaded = 364;
inline constexpr long EntryPointNotFound = 453;
}  // namespace err

std::wstring Describe(long number);

// A numbered run-time error. System calls never raise these; they return codes.
class Error : public std::exception {
public:
    // SYSTEM: the Windows result code behind it, where a system call failed.
    explicit Error(long number, unsigned long system = 0) : number_(number), system_(system) {}
    long number() const { return number_; }
    unsigned long system() const { return system_; }
    const char* what() const noexcept override { return "run-time error"; }

private:
    long number_;
    unsigned long system_;
};

[[noreturn]] inline void Raise(long number, unsigned long system = 0) { throw Error(number, system); }

// Continue-on-error: one statement; a run-time error abandons it and the caller goes on.
template <typename Statement>
void Resume(Statement&& statement) noexcept
{
    try {
        statement();
    } catch (const Error&) {
    } catch (const std::bad_alloc&) {
    }
}

// The untrapped mode's end: the error is shown in a message box and the program ends.
void ReportUntrapped(long number) noexcept;

// The boundary of an event handler. Nothing thrown inside may reach the window procedure.
template <typename Handler>
void RunHandler(Handler&& handler) noexcept
{
    try {
        handler();
    } catch (const Error& e) {
        ReportUntrapped(e.number());
    } catch (const std::bad_alloc&) {
        ReportUntrapped(err::OutOfMemory);
    } catch (...) {
        ReportUntrapped(err::InvalidCall);
    }
}

}  // namespace runtime
