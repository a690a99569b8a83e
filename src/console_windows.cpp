// std::cin and std::cout on a Windows console, through its UTF-16 interface:
// what is typed arrives as UTF-8, and UTF-8 written shows as letters, whatever
// the console's code page, which is left as it is for the programs after us.
#include "console.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <streambuf>

namespace
{
constexpr char32_t replacement = 0xFFFD;

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

char *put_utf8(char *out, char32_t c)
{
    if (c < 0x80)
    {
        *out++ = static_cast<char>(c);
    }
    else if (c < 0x800)
    {
        *out++ = static_cast<char>(0xC0 | c >> 6);
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        *out++ = static_cast<char>(0xE0 | c >> 12);
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        *out++ = static_cast<char>(0xF0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Reads what the console gives, a line or a buffer's worth at a time. As in
// text mode, CR LF reads as LF and Ctrl+Z (U+001A) ends the input, keeping
// what came before it. A surrogate pair that two reads split is joined; a lone
// surrogate reads as U+FFFD.
class ConsoleInput : public std::streambuf
{
  public:
    explicit ConsoleInput(HANDLE console) : console_(console) {}

  protected:
    int_type underflow() override
    {
        while (gptr() == egptr() && !ended_)
        {
            fill();
        }
        return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

  private:
    void fill()
    {
        DWORD count = 0;
        SetLastError(ERROR_SUCCESS);
        if (!ReadConsoleW(console_, wide_, static_cast<DWORD>(std::size(wide_)), &count, nullptr))
        {
            // Thrown through the read, which takes it for a failure: std::cin turns bad.
            throw std::runtime_error("the console could not be read");
        }
        if (count == 0 && GetLastError() == ERROR_OPERATION_ABORTED)
        {
            // Ctrl+C or Ctrl+Break: its handler is ending the process, or ignores it.
            Sleep(100);
            return;
        }
        char *end = text_;
        for (DWORD i = 0; i < count && !ended_; ++i)
        {
            end = take(end, wide_[i]);
        }
        if (count == 0 || ended_)
        {
            // What was held for the next read stands as it is.
            ended_ = true;
            if (high_)
            {
                end = put_utf8(end, replacement);
            }
            if (cr_)
            {
                *end++ = '\r';
            }
        }
        setg(text_, text_, end);
    }

    char *take(char *out, char32_t unit)
    {
        if (high_)
        {
            const char32_t high = high_;
            high_ = 0;
            if (is_low_surrogate(unit))
            {
                return put_utf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            }
            out = put_utf8(out, replacement);
        }
        if (cr_)
        {
            cr_ = false;
            if (unit == '\n')
            {
                *out++ = '\n';
                return out;
            }
            *out++ = '\r';
        }
        if (unit == 0x1A)
        {
            ended_ = true;
        }
        else if (unit == '\r')
        {
            cr_ = true;
        }
        else if (is_high_surrogate(unit))
        {
            high_ = unit;
        }
        else
        {
            out = put_utf8(out, is_low_surrogate(unit) ? replacement : unit);
        }
        return out;
    }

    // Microsoft's console before its 2023 rewrite of line input lets a line
    // be typed only as long as the read that waits for it: here 16,382
    // characters and CR LF. Newer consoles take longer lines, read by read.
    static constexpr std::size_t units = 16384;
    HANDLE console_;
    wchar_t wide_[units];
    char text_[3 * units + 8]; // a unit gives 3 bytes at most, what was held 4 more
    char32_t high_ = 0;        // a high surrogate whose low one is still to come
    bool cr_ = false;          // a CR whose LF is still to come
    bool ended_ = false;
};

// Writes UTF-8 as the console's UTF-16, LF as CR LF as in text mode. A
// sequence that the buffer's end cuts waits for its rest; a byte that cannot
// be UTF-8 shows as U+FFFD.
class ConsoleOutput : public std::streambuf
{
  public:
    explicit ConsoleOutput(HANDLE console) : console_(console)
    {
        setp(text_, text_ + std::size(text_));
    }

  protected:
    int_type overflow(int_type c) override
    {
        if (sync() != 0)
        {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof()))
        {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override
    {
        wchar_t *end = wide_;
        const char *rest = decode(pbase(), pptr(), end);
        if (!write(end - wide_))
        {
            return -1;
        }
        const auto kept = static_cast<int>(pptr() - rest);
        std::memmove(text_, rest, static_cast<std::size_t>(kept));
        setp(text_, text_ + std::size(text_));
        pbump(kept);
        return 0;
    }

  private:
    // Decodes whole sequences into out and returns where a cut one starts, or end.
    static const char *decode(const char *begin, const char *end, wchar_t *&out)
    {
        auto octet = [](const char *at)
        { return static_cast<int>(static_cast<unsigned char>(*at)); };
        const char *at = begin;
        while (at != end)
        {
            const int lead = octet(at);
            const int length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
            const int bits = length == 1 ? lead : lead & (0x7F >> length);
            char32_t c = length == 0 ? replacement : static_cast<char32_t>(bits);
            // The second byte's range rules out overlong forms, surrogates and
            // code points past U+10FFFF.
            int low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            int high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            int taken = 1;
            for (; taken < length; ++taken)
            {
                if (at + taken == end)
                {
                    return at;
                }
                const int next = octet(at + taken);
                if (next < low || next > high)
                {
                    c = replacement; // for the bytes before the one that does not fit
                    break;
                }
                c = c << 6 | static_cast<char32_t>(next & 0x3F);
                low = 0x80;
                high = 0xBF;
            }
            at += taken;
            if (c == '\n')
            {
                *out++ = L'\r';
            }
            if (c >= 0x10000)
            {
                *out++ = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                *out++ = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            }
            else
            {
                *out++ = static_cast<wchar_t>(c);
            }
        }
        return end;
    }

    bool write(std::ptrdiff_t size)
    {
        for (const wchar_t *at = wide_; size > 0;)
        {
            DWORD written = 0;
            if (!WriteConsoleW(console_, at, static_cast<DWORD>(size), &written, nullptr) ||
                written == 0)
            {
                return false;
            }
            at += written;
            size -= written;
        }
        return true;
    }

    static constexpr std::size_t bytes = 1024;
    HANDLE console_;
    char text_[bytes];
    wchar_t wide_[2 * bytes]; // a byte gives one unit at most, LF two
};

bool is_console(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}
} // namespace

void use_unicode_console()
{
    // Never destroyed: std::cout is flushed once more as the process exits,
    // after the program's static objects are gone.
    if (const HANDLE input = GetStdHandle(STD_INPUT_HANDLE); is_console(input))
    {
        std::cin.rdbuf(new ConsoleInput(input));
    }
    if (const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE); is_console(output))
    {
        std::cout.rdbuf(new ConsoleOutput(output));
    }
}
