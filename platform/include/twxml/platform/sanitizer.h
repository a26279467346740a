// Whether the code is built with the address checker: code that manages
// memory of its own then tells it what is in use, or leaves the work to the
// plain allocator so misuse is seen. Internal to the library and its tests.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TWXML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TWXML_ASAN 1
#endif
#endif
