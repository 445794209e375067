// Whether this test program is built with a sanitizer. Such builds run many
// times slower and reserve address space of their own: long cases run fewer
// rounds there, and cases that limit the address space are passed over.
#pragma once

namespace vo::test {

// A compiler feature test that reads 0 where the compiler has none.
#ifdef __has_feature
#define VO_TEST_FEATURE(name) __has_feature(name)
#else
#define VO_TEST_FEATURE(name) 0
#endif

// ThreadSanitizer alone (it reports every unordered access, also those of
// calls a test makes to find what still races).
#if defined(__SANITIZE_THREAD__) || VO_TEST_FEATURE(thread_sanitizer)
inline constexpr bool kThreadSanitized = true;
#else
inline constexpr bool kThreadSanitized = false;
#endif

#if defined(__SANITIZE_ADDRESS__) || VO_TEST_FEATURE(address_sanitizer) || VO_TEST_FEATURE(memory_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = kThreadSanitized;
#endif

}  // namespace vo::test
