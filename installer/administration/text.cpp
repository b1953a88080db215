#include "installer/administration/text.h"

#include <cstring>

namespace Administration {

std::string fill(const std::string &pattern, const std::vector<std::string> &values)
{
    std::string filled;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const int number = pattern[i + 1] - '1';
            if (number >= 0 && number < 9 && size_t(number) < values.size()) {
                filled += values[size_t(number)];
                ++i;
                continue;
            }
        }
        filled += pattern[i];
    }
    return filled;
}

namespace {

// The length of the valid UTF-8 sequence of two or more bytes starting at
// `at`; 0 when there is none.
size_t sequenceLength(const std::string &bytes, size_t at)
{
    const auto byte = [&](size_t i) { return i < bytes.size() ? (unsigned char)bytes[i] : 0u; };
    const unsigned first = byte(at);
    const size_t length = first >= 0xf0 && first <= 0xf4 ? 4 : first >= 0xe0 ? 3 : first >= 0xc2 ? 2 : 0;
    if (length == 0 || (first >= 0xf0 && length != 4))
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and values beyond U+10FFFF.
    const unsigned second = byte(at + 1);
    if ((first == 0xe0 && second < 0xa0) || (first == 0xed && second >= 0xa0)
        || (first == 0xf0 && second < 0x90) || (first == 0xf4 && second >= 0x90))
        return 0;
    return length;
}

} // namespace

std::string printable(const std::string &bytes)
{
    static const char letters[] = "abtnvfr";
    std::string shown;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = (unsigned char)bytes[i];
        const size_t length = c >= 0x80 ? sequenceLength(bytes, i) : 0;
        if (length > 0) {
            shown.append(bytes, i, length);
            i += length - 1;
        } else if (c == '\\') {
            shown += "\\\\";
        } else if (c >= '\a' && c <= '\r') {
            shown += '\\';
            shown += letters[c - '\a'];
        } else if (c < 0x20 || c >= 0x7f) {
            const char octal[] = {'\\', char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)),
                                  char('0' + (c & 7)), '\0'};
            shown += octal;
        } else {
            shown += char(c);
        }
    }
    return shown;
}

std::string systemError(int error)
{
    return std::strerror(error);
}

} // namespace Administration
