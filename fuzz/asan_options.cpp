// AddressSanitizer's settings for every fuzz target; ASAN_OPTIONS in the environment still
// overrides them.

extern "C" const char* __asan_default_options();

extern "C" const char* __asan_default_options()
{
    // The default 256 MB quarantine keeps handing out memory never touched before, and on a
    // virtual machine those page faults took half the time of an in-memory target. 16 MB still
    // holds far more than one input frees, so a use after free within an input is still caught.
    return "quarantine_size_mb=16";
}
