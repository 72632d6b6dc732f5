// Sanitizer settings built into the sanitized test programs: stop at the first report, look for
// leaks at exit, and turn on the checks that are off by default.
extern "C" const char* __asan_default_options() {
    return "halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:"
           "check_initialization_order=1:strict_init_order=1";
}

extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
