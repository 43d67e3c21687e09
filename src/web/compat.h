// Force-included into every file of the browser build: what emscripten's C++ library (libc++
// 13) lacks of C++20 and the emulation uses. Nothing here reaches the native builds.
#pragma once

#ifdef __cplusplus
#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
// The compiler's own bit_cast, which the library has not wrapped yet.
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From), "bit_cast between types of different sizes");
    return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
#endif
