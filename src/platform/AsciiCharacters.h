#pragma once

// Character classes by their ASCII meaning alone, for text whose grammar is ASCII: URLs, UUIDs,
// UDIDs, printf formats, numbers in file names. QChar::isDigit and isLetter also take other
// scripts' digits and letters, which none of these accept. Take a char16_t, so that a QChar is
// passed as c.unicode() and a char converts without sign trouble (a byte above 0x7f is no digit).

constexpr bool isAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

constexpr bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A hexadecimal digit in either case.
constexpr bool isHexDigit(char16_t c) {
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
