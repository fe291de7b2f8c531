// The format command's output through the console dialogue: whatever the
// command prints, in whatever pieces, the dialogue answers, ends and never
// reads or writes outside its buffers.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "FuzzTarget.h"
#include "disk/WinFormat.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedChild.h"

PURGEX_FUZZ_TARGET(FormatOutputFuzz) {
    if (Size < 2) return 0;
    // First byte: exit code; second: piece length; the rest: the output.
    const uint32_t Code = Data[0] & 3;
    const size_t Piece = size_t(Data[1] % 64) + 1;
    std::deque<std::string> Chunks;
    for (size_t At = 2; At < Size; At += Piece)
        Chunks.emplace_back(reinterpret_cast<const char*>(Data + At), std::min(Piece, Size - At));
    TFakePlatform Machine;
    std::string Answers;
    Machine.ProcessStarter = [&](std::string_view) {
        return std::make_unique<TScriptedChild>(Chunks, Code, &Answers);
    };
    double Last = -1;
    const uint8_t Result =
        FormatFloppy('A', Data[1] & 0x80, [&](const std::string&, double f) { Last = f; });
    PURGEX_FUZZ_CHECK(Result >= 1 && Result <= 3);
    PURGEX_FUZZ_CHECK(Code != 0 || Last == 1.0);
    return 0;
}
