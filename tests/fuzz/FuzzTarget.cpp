#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

std::map<std::string, TFuzzBody>& FuzzTargets() {
    static std::map<std::string, TFuzzBody> Targets;
    return Targets;
}

bool RegisterFuzzTarget(const char* Name, TFuzzBody Body) {
    FuzzTargets()[Name] = Body;
    return true;
}

void FuzzCheckFailed(const char* Condition, const char* File, int Line) {
#ifdef PURGEX_FUZZING
    std::fprintf(stderr, "%s:%d: rule broken: %s\n", File, Line, Condition);
    std::abort();
#else
    throw std::logic_error(std::string(File) + ":" + std::to_string(Line) +
                           ": rule broken: " + Condition);
#endif
}
