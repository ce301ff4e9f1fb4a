#pragma once
// Whether a test can judge memory by the resident size: under AddressSanitizer freed memory waits in
// quarantine and every allocation carries shadow memory, so the figures say nothing about what the
// program itself keeps.

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentSizeIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kResidentSizeIsMeaningful = false;
#else
inline constexpr bool kResidentSizeIsMeaningful = true;
#endif
#else
inline constexpr bool kResidentSizeIsMeaningful = true;
#endif
