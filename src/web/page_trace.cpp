// The page's view of what runs. The page's build of the program compiles its
// own sources with -finstrument-functions-after-inlining, so each of their
// functions that is still a function of its own once the compiler has
// inlined what it inlines calls these two on entry and on exit, with its own
// address. The page learns from that address (a WebAssembly table index; the
// build names the index from the linker's symbol map) which of the program's
// functions runs, and may stop the program there:
//
//   Module.onTrace(entering, function): told of each entry (1) and exit (0);
//       returns true to stop the program there;
//   Module.onStop(): a promise that settles when the program may go on.
//
// Nothing here is itself instrumented, or it would trace itself.

#include <cstdint>

#include <emscripten.h>

#define PERSON_NOT_TRACED __attribute__((no_instrument_function))

namespace {

EM_JS(int, tell_page, (int entering, int callee), {
    return Module.onTrace && Module.onTrace(entering, callee) ? 1 : 0;
});

// The program's stack unwinds here and rewinds once the page says go on;
// only a stop the page asked for pays for it.
EM_ASYNC_JS(void, stop_here, (), {
    await Module.onStop();
});

PERSON_NOT_TRACED void trace(int entering, void* callee)
{
    if (tell_page(entering, static_cast<int>(reinterpret_cast<std::uintptr_t>(callee))) != 0) {
        stop_here();
    }
}

} // namespace

extern "C" {

PERSON_NOT_TRACED void __cyg_profile_func_enter(void* callee, void*)
{
    trace(1, callee);
}

PERSON_NOT_TRACED void __cyg_profile_func_exit(void* callee, void*)
{
    trace(0, callee);
}

// The instrumentation passes each call's return address too, which
// WebAssembly can only answer from a stack trace. The page does not use it.
PERSON_NOT_TRACED void* emscripten_return_address(int)
{
    return nullptr;
}

} // extern "C"
