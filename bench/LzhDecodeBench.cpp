// Start-up cost of the stores: decodes the embedded CD container (as
// LoadCdStore does) repeatedly and reports the best time and throughput.
//
//   lzh_decode_bench [ROUNDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "image/ExeData.h"
#include "image/LZH.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const auto Resource = Platform().OwnResource("STREAM", "PURGXCD");
    if (!Resource || Resource->size() < 5) {
        std::fprintf(stderr, "no embedded PURGXCD container\n");
        return 1;
    }
    const auto Coded = Resource->subspan(5);
    double Best = 1e30;
    int64_t Decoded = 0;
    for (int i = 0; i < Rounds; ++i) {
        TReadOnlyStream Source(Coded);
        TMemoryStream Destination;
        const auto Start = std::chrono::steady_clock::now();
        UnpackStream(Source, Destination);
        const double Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        Best = std::min(Best, Seconds);
        Decoded = Destination.Size();
    }
    const auto Start = std::chrono::steady_clock::now();
    const bool Loaded = LoadCdStore();
    const double Load = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::printf("LZH decode: %lld bytes from %zu in %.2f ms (best of %d), %.1f MB/s\n",
                static_cast<long long>(Decoded), Coded.size(), Best * 1000, Rounds,
                Decoded / Best / 1e6);
    std::printf("LoadCdStore: %s in %.2f ms\n", Loaded ? "loaded" : "FAILED", Load * 1000);
    return Loaded ? 0 : 1;
}
