#include "key_sequence.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Key {
    const char* name;
    std::string bytes;
};

// What terminals send for one key press.
const Key keys[] = {
    {"Letter", "a"},
    {"Enter", "\r"},
    {"CtrlD", "\x04"},
    {"Delete", "\x7f"},
    {"ArrowUp", "\x1b[A"},
    {"ApplicationArrowUp", "\x1bOA"},
    {"F1", "\x1bOP"},
    {"F5", "\x1b[15~"},
    {"ShiftF5", "\x1b[15;2~"},
    {"CtrlShiftRight", "\x1b[1;6C"},
    {"LinuxConsoleF1", "\x1b[[A"},
    {"AltX", "\x1bx"},
    {"AltArrowUp", "\x1b\x1b[A"},
    {"TwoByteUtf8", "\xC3\xA9"},
    {"ThreeByteUtf8", "\xE4\xB8\xAD"},
    {"FourByteUtf8", "\xF0\x9F\x98\x80"},
    // The first and last byte of each class, so that no boundary can move.
    {"Utf8LeadC2", "\xC2\x80"},
    {"Utf8LeadDF", "\xDF\xBF"},
    {"Utf8LeadE0", "\xE0\xA0\x80"},
    {"Utf8LeadEF", "\xEF\xBF\xBD"},
    {"Utf8LeadF0", "\xF0\x90\x80\x80"},
    {"Utf8LeadF4", "\xF4\x8F\xBF\xBF"},
    {"InvalidLeadC0", "\xC0"},
    {"InvalidLeadC1", "\xC1"},
    {"InvalidLeadF5", "\xF5"},
    {"CsiIntermediateSpace", "\x1b[ q"},
    {"CsiParameterQuestionMark", "\x1b[?1~"},
    {"CsiFinalAt", "\x1b[@"},
    {"CsiFinalTilde", "\x1b[~"},
};

void PrintTo(const Key& key, std::ostream* out)
{
    *out << key.name;
}

class WholeKey : public ::testing::TestWithParam<Key> {};

// Every proper prefix of a key's bytes asks for more; the whole key does not.
TEST_P(WholeKey, OnlyTheWholeSequenceIsOneKey)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(GetParam().bytes.data());
    const std::size_t size = GetParam().bytes.size();
    for (std::size_t count = 0; count < size; ++count) {
        EXPECT_FALSE(console::is_whole_key(bytes, count)) << "after " << count << " bytes";
    }
    EXPECT_TRUE(console::is_whole_key(bytes, size));
}

INSTANTIATE_TEST_SUITE_P(Keys, WholeKey, ::testing::ValuesIn(keys),
                         [](const auto& test) { return std::string(test.param.name); });

// Bytes that cannot continue what came before end the key at once, so the
// reader never waits for a sequence that will not be finished.
const Key malformed[] = {
    {"Utf8LeadThenAscii", "\xC3" "a"},
    {"ThreeByteLeadCutShort", "\xE4\xB8" "b"},
    {"CsiThenControlByte", "\x1b[1\x03"},
    {"CsiThenLastControlByte", "\x1b[1\x1f"},
    {"StrayContinuationByte", "\xB5"},
};

class BrokenKey : public ::testing::TestWithParam<Key> {};

TEST_P(BrokenKey, EndsAtTheFirstByteThatDoesNotFit)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(GetParam().bytes.data());
    EXPECT_TRUE(console::is_whole_key(bytes, GetParam().bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Malformed, BrokenKey, ::testing::ValuesIn(malformed),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
