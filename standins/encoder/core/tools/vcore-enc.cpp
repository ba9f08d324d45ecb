// vcore-enc: encodes a raw I420 file with the vcore encoder.
//   vcore-enc -i in.yuv -w 720 -h 576 [-fps 25] [-rc cbr|vbr|qp] [-b kbps] [-qp N]
//             [-g gop] [-idr n] [-speed 1..7] [-threads n (0 = one per processor)] [-frames n] [-v 1]
//             -o out.264 [-recon rec.yuv]
// Prints the frames, the time spent in the encoder, the process's CPU and wall
// time, the bitrate, the kernel set and the threads used.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "H264Encoder.h"
#include "Kernels.h"

namespace {

// CPU seconds (user + kernel) of the process so far, all threads.
double CpuSeconds() {
#ifdef _WIN32
    FILETIME c, e, k, u;
    if (!::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u)) return 0;
    auto secs = [](const FILETIME& f) {
        return static_cast<double>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return secs(k) + secs(u);
#else
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
#endif
}

} // namespace

int main(int argc, char** argv) {
    const auto wallStart = std::chrono::steady_clock::now();
    std::string in, outPath, reconPath;
    vcore::EncoderSettings s;
    s.rateControl = vcore::kRateCbr;
    long maxFrames = -1;
    bool verbose = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const char* v = argv[i + 1];
        if (k == "-i") in = v;
        else if (k == "-o") outPath = v;
        else if (k == "-recon") reconPath = v;
        else if (k == "-w") s.width = std::atoi(v);
        else if (k == "-h") s.height = std::atoi(v);
        else if (k == "-fps") s.fps = std::atof(v);
        else if (k == "-b") s.bitrateKbps = std::atoi(v);
        else if (k == "-qp") s.qp = std::atoi(v);
        else if (k == "-g") s.gopSize = std::atoi(v);
        else if (k == "-idr") s.idrInterval = std::atoi(v);
        else if (k == "-speed") s.speedQuality = std::atoi(v);
        else if (k == "-threads") s.threads = std::atoi(v);
        else if (k == "-frames") maxFrames = std::atol(v);
        else if (k == "-v") verbose = std::atoi(v) != 0;
        else if (k == "-rc") s.rateControl = std::strcmp(v, "vbr") == 0 ? vcore::kRateVbr
                                           : std::strcmp(v, "qp") == 0 ? vcore::kRateFixedQp : vcore::kRateCbr;
        else {
            std::fprintf(stderr, "unknown option %s\n", k.c_str());
            return 2;
        }
    }
    if (in.empty() || outPath.empty()) {
        std::fprintf(stderr, "usage: vcore-enc -i in.yuv -w W -h H -o out.264 [options]\n");
        return 2;
    }
    vcore::H264Encoder enc;
    if (!enc.Open(s)) {
        std::fprintf(stderr, "bad settings\n");
        return 2;
    }
    FILE* fi = std::fopen(in.c_str(), "rb");
    FILE* fo = std::fopen(outPath.c_str(), "wb");
    FILE* fr = reconPath.empty() ? nullptr : std::fopen(reconPath.c_str(), "wb");
    if (!fi || !fo || (!reconPath.empty() && !fr)) {
        std::fprintf(stderr, "cannot open files\n");
        return 2;
    }
    const int w = s.width, h = s.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h + 2 * static_cast<size_t>(cw) * ch);
    std::vector<uint8_t> out;
    double seconds = 0;
    long n = 0;
    while ((maxFrames < 0 || n < maxFrames) && std::fread(frame.data(), 1, frame.size(), fi) == frame.size()) {
        out.clear();
        const uint8_t* y = frame.data();
        const uint8_t* u = y + static_cast<size_t>(w) * h;
        const uint8_t* v = u + static_cast<size_t>(cw) * ch;
        auto t0 = std::chrono::steady_clock::now();
        bool idr = false;
        enc.Encode(y, w, u, cw, v, cw, out, &idr);
        if (verbose) std::fprintf(stderr, "frame %ld %s qp %d bytes %zu\n", n, idr ? "IDR" : "", enc.LastQp(), out.size());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::fwrite(out.data(), 1, out.size(), fo);
        if (fr) {
            const vcore::UsedSettings used = enc.Used();
            for (int p = 0; p < 3; ++p) {
                int st = 0;
                const uint8_t* r = enc.ReconPlane(p, &st);
                const int pw = p ? used.codedWidth / 2 : used.codedWidth;
                const int ph = p ? used.codedHeight / 2 : used.codedHeight;
                for (int row = 0; row < ph; ++row) std::fwrite(r + static_cast<ptrdiff_t>(row) * st, 1, static_cast<size_t>(pw), fr);
            }
        }
        ++n;
    }
    std::fclose(fi);
    std::fclose(fo);
    if (fr) std::fclose(fr);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("frames=%ld encode_seconds=%.3f fps=%.1f cpu_seconds=%.3f wall_seconds=%.3f bitrate_kbps=%u "
                "kernels=%s threads=%d\n",
                n, seconds, seconds > 0 ? n / seconds : 0.0, CpuSeconds(), wall, enc.AverageBitrateKbps(),
                vcore::Kern().name, enc.Used().threads);
    return 0;
}
