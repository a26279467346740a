// Loaded by the loader tests.
extern "C" __attribute__((visibility("default"))) int TwTestAnswer(void) { return 42; }
