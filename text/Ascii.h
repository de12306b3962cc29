#pragma once

// Character classes as the C locale has them, whatever locale the process runs in: the Qt
// application sets it from the environment, and files and sentences are ASCII either way.

namespace ostrim {

constexpr bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a hex digit in either case, or -1.
constexpr int HexDigit(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace ostrim
