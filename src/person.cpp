#include "person.h"

#include <iostream>

namespace {

// The lines are GBK (code page 936) bytes, spelled as escapes so that no
// compiler's source or execution character set can change one of them. They
// go out as stored: nothing here transcodes, sets a locale or touches the
// console's code page.

// "Person的默认构造函数调用": Person's default constructor called.
constexpr char construction_line[] =
    "Person"
    "\xB5\xC4"  // 的
    "\xC4\xAC"  // 默
    "\xC8\xCF"  // 认
    "\xB9\xB9"  // 构
    "\xD4\xEC"  // 造
    "\xBA\xAF"  // 函
    "\xCA\xFD"  // 数
    "\xB5\xF7"  // 调
    "\xD3\xC3"; // 用

// "Person的析构函数调用": Person's destructor called.
constexpr char destruction_line[] =
    "Person"
    "\xB5\xC4"  // 的
    "\xCE\xF6"  // 析
    "\xB9\xB9"  // 构
    "\xBA\xAF"  // 函
    "\xCA\xFD"  // 数
    "\xB5\xF7"  // 调
    "\xD3\xC3"; // 用

static_assert(sizeof construction_line - 1 == 24, "construction line is 24 bytes");
static_assert(sizeof destruction_line - 1 == 20, "destruction line is 20 bytes");

} // namespace

// std::endl flushes, so each line is out before the member that wrote it
// returns. A stream that cannot write keeps the failure in its state; stream
// exceptions are never enabled, so neither member can throw.
Person::Person()
{
    std::cout << construction_line << std::endl;
}

Person::~Person()
{
    std::cout << destruction_line << std::endl;
}
