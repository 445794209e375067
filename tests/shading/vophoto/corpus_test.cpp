// A malformed corpus generated from the files of every layout: truncations,
// numbers replaced by hostile text, long lines, NUL bytes, line ends, lists
// duplicated, reversed and cut short, and seeded byte flips. Every case
// answers success or its failure status, never a crash, an over-read or a
// leak (the sanitizers watch); a success leaves a finite grid, a failure
// none. And every allocation of a load may fail.

#include <cctype>

#include "photo_fixture.h"
#include "support/kernel_fixture.h"

namespace vo::test {
namespace {

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  if (at < text.size()) lines.push_back(text.substr(at));
  return lines;
}

std::string Joined(const std::vector<std::string> &lines) {
  std::string s;
  for (const std::string &l : lines) s += l + "\n";
  return s;
}

std::vector<std::string> Tokens(const std::string &line) {
  std::vector<std::string> out;
  size_t at = 0;
  while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
    const size_t end = std::min(line.find(' ', at), line.size());
    out.push_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

std::string Spaced(const std::vector<std::string> &tokens) {
  std::string s;
  for (const std::string &t : tokens) s += (s.empty() ? "" : " ") + t;
  return s;
}

bool Numeric(const std::string &t) {
  return !t.empty() && (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-');
}

// Every variant of one file the corpus holds.
std::vector<std::string> Variants(const std::string &file) {
  std::vector<std::string> out;
  for (size_t n = 0; n < file.size(); ++n) out.push_back(file.substr(0, n));
  const std::vector<std::string> lines = Lines(file);
  static const char *const kHostile[] = {"-1", "0", "1e9", "nan", "inf", "1e-7", "2147483648", "x", ""};
  for (size_t l = 0; l < lines.size(); ++l) {
    const std::vector<std::string> tokens = Tokens(lines[l]);
    for (size_t t = 0; t < tokens.size(); ++t) {
      if (!Numeric(tokens[t])) continue;
      for (const char *h : kHostile) {
        std::vector<std::string> changed = lines, replaced = tokens;
        replaced[t] = h;
        changed[l] = Spaced(replaced);
        out.push_back(Joined(changed));
      }
    }
    for (const size_t length : {254u, 255u, 256u, 257u, 300u}) {
      std::vector<std::string> changed = lines;
      changed[l].resize(std::max(changed[l].size(), size_t{length}), ' ');
      out.push_back(Joined(changed));
      changed[l] = std::string(length, '7');
      out.push_back(Joined(changed));
    }
    std::vector<std::string> changed = lines;
    changed.insert(changed.begin() + static_cast<long>(l), lines[l]);  // duplicated
    out.push_back(Joined(changed));
    changed = lines;
    std::vector<std::string> reversed(tokens.rbegin(), tokens.rend());
    changed[l] = Spaced(reversed);
    out.push_back(Joined(changed));
    if (!tokens.empty()) {
      changed[l] = Spaced(std::vector<std::string>(tokens.begin(), tokens.end() - 1));  // one short
      out.push_back(Joined(changed));
    }
    changed = lines;
    changed[l].insert(changed[l].size() / 2, 1, '\0');
    out.push_back(Joined(changed));
  }
  for (const char *end : {"\r", "\r\n", "\n\r", "\n\n"}) {
    std::string s;
    for (const std::string &l : lines) s += l + end;
    out.push_back(s);
  }
  uint32_t seed = 41;
  for (int i = 0; i < 200; ++i) {
    std::string s = file;
    seed = seed * 1103515245 + 12345;
    s[(seed >> 8) % s.size()] ^= static_cast<char>(1u << ((seed >> 4) % 8));
    out.push_back(s);
  }
  return out;
}

class PhotometryCorpus : public PhotometryTest {
 protected:
  // Reads the case and checks what it leaves; a file of a few kilobytes
  // makes no allocation anywhere near 64 MB (the counts' limits keep the
  // largest table at 16 MB).
  void Check(const std::string &first, const std::string &second) {
    VtStatus s = 0;
    const uint64_t largest = LargestAllocationOf([&] { s = Read(first, second); });
    ASSERT_LT(largest, uint64_t{64} << 20) << first;
    ASSERT_TRUE(s == 0 || s == 0x40000002u || s == 258u) << std::hex << s << "\n" << first;
    if (s != 0) {
      ASSERT_EQ(record_->distribution, nullptr);
      return;
    }
    ASSERT_NE(record_->distribution, nullptr);
    ASSERT_TRUE(std::isfinite(record_->peakScale) && record_->peakScale > 0);
    ASSERT_EQ(record_->sampleCount, record_->horizontalCount * record_->verticalCount);
    for (const float g : Grid()) ASSERT_TRUE(std::isfinite(g)) << first;
    const float at[] = {0, 0, 0}, p[] = {0.3f, -0.2f, -1};
    ASSERT_TRUE(std::isfinite(VoPhotometricRecordIntensity(record_, at, p)));
  }
};

TEST_F(PhotometryCorpus, EveryMalformedFileAnswersAStatusAndLeavesNothingHalfRead) {
  size_t cases = 0;
  for (const Luminaire &l : EveryLayout()) {
    SCOPED_TRACE(l.name);
    for (const std::string &v : Variants(l.first)) {
      Check(v, l.second);
      if (HasFatalFailure()) return;
      ++cases;
    }
    if (l.second.empty()) continue;
    for (const std::string &v : Variants(l.second)) {
      Check(l.first, v);
      if (HasFatalFailure()) return;
      ++cases;
    }
  }
  EXPECT_GT(cases, 5000u);
}

TEST_F(PhotometryTest, EveryAllocationOfALoadMayFail) {
  for (const Luminaire &l : EveryLayout()) {
    SCOPED_TRACE(l.name);
    EveryAllocationFails([&] { return Read(l); }, [&] { EXPECT_EQ(record_->distribution, nullptr); });
    EXPECT_NE(record_->distribution, nullptr);
  }
}

}  // namespace
}  // namespace vo::test
