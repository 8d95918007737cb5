#include "person.h"

#include <gtest/gtest.h>

#include <iostream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

const std::string construction_line =
    "Person\xB5\xC4\xC4\xAC\xC8\xCF\xB9\xB9\xD4\xEC\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n";
const std::string destruction_line =
    "Person\xB5\xC4\xCE\xF6\xB9\xB9\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n";

// Standard output's buffer for one test: keeps every byte, and notes what had
// been written each time the stream flushed it.
class RecordingBuffer : public std::streambuf {
public:
    std::string written;
    std::vector<std::string> flushed;

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            written.push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        written.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override
    {
        flushed.push_back(written);
        return 0;
    }
};

// A device that takes nothing.
class RefusingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
    int sync() override { return -1; }
};

// Lends std::cout a buffer for one test and gives back the old buffer and
// state afterwards.
class CoutRedirect {
public:
    explicit CoutRedirect(std::streambuf* buffer)
        : old_buffer_(std::cout.rdbuf(buffer)), old_state_(std::cout.rdstate())
    {
    }
    ~CoutRedirect()
    {
        std::cout.rdbuf(old_buffer_);
        std::cout.clear(old_state_);
    }
    CoutRedirect(const CoutRedirect&) = delete;
    CoutRedirect& operator=(const CoutRedirect&) = delete;

private:
    std::streambuf* old_buffer_;
    std::ios_base::iostate old_state_;
};

TEST(Person, EachMemberWritesItsLineAndFlushesItBeforeReturning)
{
    RecordingBuffer buffer;
    CoutRedirect redirect(&buffer);
    {
        Person person;
        EXPECT_EQ(buffer.written, construction_line);
        EXPECT_EQ(buffer.flushed, std::vector<std::string>{construction_line});
    }
    EXPECT_EQ(buffer.written, construction_line + destruction_line);
    EXPECT_EQ(buffer.flushed,
              (std::vector<std::string>{construction_line, construction_line + destruction_line}));
}

TEST(Person, EveryLifetimeWritesExactlyOnePairOfLines)
{
    RecordingBuffer buffer;
    CoutRedirect redirect(&buffer);
    constexpr int lifetimes = 3;
    for (int i = 0; i < lifetimes; ++i) {
        Person person;
    }
    std::string expected;
    for (int i = 0; i < lifetimes; ++i) {
        expected += construction_line + destruction_line;
    }
    EXPECT_EQ(buffer.written, expected);
    EXPECT_EQ(buffer.flushed.size(), 2u * lifetimes);
}

// Standard output that cannot be written: construction and destruction still
// complete, nothing is thrown, and the failure stays in the stream's state.
enum class Failure { refusing_device, no_buffer, already_failed };

class PersonOnFailedOutput : public ::testing::TestWithParam<Failure> {};

TEST_P(PersonOnFailedOutput, CompletesWithoutThrowing)
{
    RefusingBuffer refusing;
    RecordingBuffer recording;
    std::streambuf* buffer = &refusing;
    if (GetParam() == Failure::no_buffer) {
        buffer = nullptr;
    } else if (GetParam() == Failure::already_failed) {
        buffer = &recording;
    }
    CoutRedirect redirect(buffer);
    if (GetParam() == Failure::already_failed) {
        std::cout.setstate(std::ios_base::badbit);
    }

    bool lived = false;
    EXPECT_NO_THROW({
        Person person;
        lived = true;
    });
    EXPECT_TRUE(lived);
    EXPECT_TRUE(std::cout.bad());
    EXPECT_EQ(recording.written, "");
}

const char* name_of(Failure failure)
{
    switch (failure) {
    case Failure::refusing_device: return "RefusingDevice";
    case Failure::no_buffer: return "NoBuffer";
    case Failure::already_failed: return "AlreadyFailed";
    }
    return "Unknown";
}

// Named cases, so that test lists and CTest say which failure ran.
void PrintTo(Failure failure, std::ostream* out)
{
    *out << name_of(failure);
}

INSTANTIATE_TEST_SUITE_P(Failures, PersonOnFailedOutput,
                         ::testing::Values(Failure::refusing_device, Failure::no_buffer,
                                           Failure::already_failed),
                         [](const auto& test) { return std::string(name_of(test.param)); });

} // namespace
