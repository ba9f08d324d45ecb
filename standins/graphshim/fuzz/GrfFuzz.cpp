// libFuzzer harness for the saved-graph stream reader and writer, built natively (the reader
// and writer use no platform interface):
//
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I.. GrfFuzz.cpp ../GrfFormat.cpp -o grf-fuzz
//   ./grf-fuzz -max_total_time=60
//
// Without libFuzzer (g++), -DGRF_FUZZ_MAIN gives a main() that runs a fixed number of
// deterministic mutations of a seed stream instead:
//
//   g++ -std=c++17 -g -O1 -fsanitize=address,undefined -DGRF_FUZZ_MAIN -I.. GrfFuzz.cpp ../GrfFormat.cpp -o grf-fuzz
//
// Whatever the reader accepts must write back to a stream that reads the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GrfFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pb, size_t cb) {
    grf::Graph g;
    size_t used = 0;
    if (!grf::Parse(pb, cb, &g, &used, nullptr)) return 0;
    if (used > cb) std::abort();
    std::vector<uint8_t> out, out2;
    if (!grf::Write(g, &out, nullptr)) std::abort();
    grf::Graph g2;
    if (!grf::Parse(out.data(), out.size(), &g2, nullptr, nullptr)) std::abort();
    if (!grf::Write(g2, &out2, nullptr) || out != out2) std::abort();
    return 0;
}

#ifdef GRF_FUZZ_MAIN
namespace {
std::vector<uint8_t> W(const std::string& s) {
    std::vector<uint8_t> b;
    for (unsigned char c : s) {
        b.push_back(c);
        b.push_back(0);
    }
    return b;
}
}  // namespace

int main(int argc, char** argv) {
    long n = argc > 1 ? std::atol(argv[1]) : 200000;
    std::vector<uint8_t> seed =
        W("0003\r\nFILTERS\r\n0001 \"Source\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} SOURCE \"C:\\a.avi\" "
          "0000000000 \r\n0002 \"R\" {70E102B0-5556-11CE-97C0-00AA0055595A} 0000000006 abc\r\nCONNECTIONS\r\n"
          "0001 \"Output\" 0002 \"In\" 0000000304 {73646976-0000-0010-8000-00AA00389B71} "
          "{E436EB7D-524F-11CE-9F53-0020AF0BA770} 1 0 0000230400 {05589F80-C356-11CE-BF01-00AA0055595A} "
          "0000000016 12345678\r\nCLOCK 1 0002\r\nEND");
    uint64_t state = 0x243F6A8885A308D3ull;
    auto rnd = [&]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    long nAccepted = 0;
    for (long i = 0; i < n; ++i) {
        std::vector<uint8_t> s = seed;
        for (int e = 0, m = 1 + int(rnd() % 6); e < m && !s.empty(); ++e) {
            size_t at = rnd() % s.size();
            switch (rnd() % 5) {
            case 0: s[at] = uint8_t(rnd()); break;
            case 1: s[at] = uint8_t('0' + rnd() % 10); break;
            case 2: s.resize(at); break;
            case 3: s.erase(s.begin() + at); break;
            case 4: s.insert(s.begin() + at, uint8_t(rnd())); break;
            }
        }
        grf::Graph g;
        if (grf::Parse(s.data(), s.size(), &g, nullptr, nullptr)) ++nAccepted;
        LLVMFuzzerTestOneInput(s.data(), s.size());
    }
    std::printf("%ld streams, %ld accepted\n", n, nAccepted);
    return 0;
}
#endif
