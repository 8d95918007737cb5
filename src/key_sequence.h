#ifndef PERSON_KEY_SEQUENCE_H
#define PERSON_KEY_SEQUENCE_H

#include <cstddef>

namespace console {

// Tells whether the bytes read so far from a terminal in single-key mode make
// up one whole key press: a single byte, a UTF-8 character, or the escape
// sequence an arrow, function or Alt-modified key sends. A lone Esc looks like
// the start of a sequence; the reader settles that by waiting a moment.
// Malformed input counts as whole as soon as it stops fitting, so the reader
// never waits for bytes that will not come.
constexpr bool is_whole_key(const unsigned char* bytes, std::size_t count)
{
    constexpr unsigned char escape = 0x1B;
    if (count == 0) {
        return false;
    }
    const unsigned char first = bytes[0];
    if (first == escape) {
        if (count == 1) {
            return false;
        }
        const unsigned char second = bytes[1];
        if (second == escape) {
            // Alt with an arrow or function key: Esc, then that key's sequence.
            return count > 2 && is_whole_key(bytes + 1, count - 1);
        }
        if (second == 'O') {
            // SS3: Esc O and one final byte (F1-F4, keypad, application arrows).
            return count >= 3;
        }
        if (second != '[') {
            return true; // Alt with an ordinary key
        }
        // CSI: parameter and intermediate bytes (0x20-0x3F), then one final
        // byte (0x40-0x7E). The Linux console's F1-F5 send Esc [ [ and a letter.
        if (count == 2) {
            return false;
        }
        if (bytes[2] == '[') {
            return count >= 4;
        }
        for (std::size_t index = 2; index < count; ++index) {
            if (bytes[index] < 0x20 || bytes[index] >= 0x40) {
                return true; // the final byte, or one that cannot belong
            }
        }
        return false;
    }
    std::size_t length = 1;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
    }
    for (std::size_t index = 1; index < count; ++index) {
        if ((bytes[index] & 0xC0) != 0x80) {
            return true; // not a continuation byte: stop here
        }
    }
    return count >= length;
}

} // namespace console

#endif
