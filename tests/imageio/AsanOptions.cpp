// Several tests ask for blocks no machine can provide and expect the readers' clean
// out-of-memory code; the sanitizer must return null for those instead of aborting.
extern "C" __attribute__((used)) const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
