// Sanitizer defaults for the platform and kernel test binaries.
extern "C" {
// The allocation tests ask for absurd sizes and expect null, as in production.
__attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
// newlocale() keeps the search path it builds from LOCPATH for the process's
// lifetime; the locale tests set LOCPATH.
__attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:argz_add_sep\n";
}
}
