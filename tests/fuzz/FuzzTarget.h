#pragma once
// One fuzz target per tests/fuzz/<Name>Fuzz.cpp:
//
//     PURGEX_FUZZ_TARGET(LzhFuzz) { ...Data, Size...; return 0; }
//
// In the fuzz build (PURGEX_FUZZING) the body is the libFuzzer entry point
// of that file's executable. In the test executable the body registers
// under its name, so the ordinary suite replays every kept input of
// tests/fuzz/regressions/<Name>/ and tests/fuzz/corpus/<Name>/ through the
// same code. A body reports a broken rule with PURGEX_FUZZ_CHECK, which
// aborts (libFuzzer keeps the input) or fails the replaying test.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

using TFuzzBody = int (*)(const uint8_t* Data, size_t Size);

// Name -> body of every target linked in.
std::map<std::string, TFuzzBody>& FuzzTargets();
bool RegisterFuzzTarget(const char* Name, TFuzzBody Body);

// Called when a rule does not hold; never returns normally in the fuzz
// build. In the test executable it throws, which the replay reports.
[[noreturn]] void FuzzCheckFailed(const char* Condition, const char* File, int Line);

#define PURGEX_FUZZ_CHECK(Condition)                                                              \
    do {                                                                                           \
        if (!(Condition)) FuzzCheckFailed(#Condition, __FILE__, __LINE__);                        \
    } while (0)

#ifdef PURGEX_FUZZING
#define PURGEX_FUZZ_ENTRY(Name)                                                                    \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {                      \
        return Name##Body(Data, Size);                                                             \
    }
#else
#define PURGEX_FUZZ_ENTRY(Name)                                                                    \
    [[maybe_unused]] static const bool Name##Registered = RegisterFuzzTarget(#Name, Name##Body);
#endif

#define PURGEX_FUZZ_TARGET(Name)                                                                   \
    static int Name##Body(const uint8_t* Data, size_t Size);                                       \
    PURGEX_FUZZ_ENTRY(Name)                                                                        \
    static int Name##Body(const uint8_t* Data, size_t Size)
