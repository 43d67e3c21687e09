// Defaults for the sanitizer runtimes, built into the programs of the sanitizer builds so that
// every run has them, by hand or under ctest. ASAN_OPTIONS and the like still override them.

extern "C" {

// A thread killed while it waits in the debugger console is unwound without AddressSanitizer
// knowing; the marks it had put on those frames stay, and its own sigaltstack call at the
// thread's exit would trip over them. Without an alternate signal stack that call is not made.
const char* __asan_default_options() { return "use_sigaltstack=0"; }

const char* __ubsan_default_options() { return "print_stacktrace=1"; }

// Stop at the first report, as the other sanitizers do.
const char* __tsan_default_options() { return "halt_on_error=1:second_deadlock_stack=1"; }

}
