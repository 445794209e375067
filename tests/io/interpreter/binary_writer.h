// Binary command files written by hand for the interpreter's tests: the
// header (signature, byte order, version, word size, variables, end mark)
// and records of a procedure code, the variable taking the result and the
// argument bytes, all in the reader's own byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "kernel/vosystem/api_table.h"

namespace vo::test {

struct Writer {
  std::string bytes;
  Writer &Word(uint32_t w) {
    bytes.append(reinterpret_cast<const char *>(&w), 4);
    return *this;
  }
  Writer &Words(std::initializer_list<uint32_t> words) {
    for (uint32_t w : words) Word(w);
    return *this;
  }
  Writer &Text(const char *t) {
    Word(static_cast<uint32_t>(std::strlen(t) + 1));
    bytes.append(t, std::strlen(t) + 1);
    return *this;
  }
  Writer &Header(uint32_t variables = 0) {
    bytes = "\xFEVXB";
    return Word(0x01020304).Word(0).Word(4).Word(variables).Word(0xFFFFFFFF);
  }
  Writer &Record(uint32_t code, uint32_t result, const std::string &args) {
    Word(code).Word(result).Word(static_cast<uint32_t>(args.size()));
    bytes += args;
    return *this;
  }
  // A call of the named procedure with argument words (variable numbers or
  // values); an unknown name fails the test and writes nothing.
  template <class Range>
  Writer &Call(const char *name, uint32_t result, const Range &words) {
    const api::VtApiFunction *fn = api::FindFunction(name);
    EXPECT_NE(fn, nullptr) << name;
    if (fn == nullptr) return *this;
    Writer args;
    for (uint32_t w : words) args.Word(w);
    return Record(fn->code, result, args.bytes);
  }
  Writer &Call(const char *name, uint32_t result, std::initializer_list<uint32_t> words = {}) {
    return Call<std::initializer_list<uint32_t>>(name, result, words);
  }
  Writer &Call(const char *name, uint32_t result, const std::string &args) {
    const api::VtApiFunction *fn = api::FindFunction(name);
    EXPECT_NE(fn, nullptr) << name;
    return fn == nullptr ? *this : Record(fn->code, result, args);
  }
};

}  // namespace vo::test
