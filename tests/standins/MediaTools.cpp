#include "tests/standins/MediaTools.h"

#include "tests/support/HostTools.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

RefStream MakeRefStream(int width, int height, int fps, int frames, const std::string& x264Args) {
    RefStream ref;
    const std::string mp4 = UniqueTmpPath(".mp4"), h264 = UniqueTmpPath(".h264");
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i testsrc2=size=" << width << "x" << height
        << ":rate=" << fps << " -frames:v " << frames << " -c:v libx264 -pix_fmt yuv420p "
        << x264Args << " '" << mp4 << "' && ffmpeg -v error -y -i '" << mp4
        << "' -c:v copy -bsf:v h264_mp4toannexb -f h264 '" << h264 << "'";
    if (RunHost(cmd.str()) != 0) return ref;
    std::string out;
    if (RunHost("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags "
                "-of csv=p=0 '" + mp4 + "'", &out) != 0)
        return ref;
    for (const std::string& line : Lines(out)) {
        size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        double t = std::atof(line.substr(0, comma).c_str());
        ref.pts.push_back((int64_t)std::llround(t * 1e7));
        ref.key.push_back(line.find('K', comma) != std::string::npos);
    }
    if (!ReadHostFile(h264, &ref.bytes)) return RefStream();
    ref.h264Path = h264;
    return ref;
}

std::map<std::string, std::string> ProbeVideo(const std::string& unixPath) {
    std::map<std::string, std::string> values;
    std::string out;
    RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_name,width,height,nb_read_frames,duration,nb_frames "
            "-of default=nw=1 '" + unixPath + "'", &out);
    for (const std::string& line : Lines(out)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

int CountKeyPackets(const std::string& unixPath) {
    std::string out;
    if (RunHost("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
                unixPath + "'", &out) != 0)
        return -1;
    int n = 0;
    for (const std::string& line : Lines(out)) n += line.find('K') != std::string::npos;
    return n;
}

std::vector<std::string> FrameHashes(const std::string& unixPath) {
    std::vector<std::string> hashes;
    std::string out;
    if (RunHost("ffmpeg -v error -i '" + unixPath + "' -map 0:v:0 -f framemd5 -", &out) != 0)
        return hashes;
    for (const std::string& line : Lines(out)) {
        if (line[0] == '#') continue;
        size_t comma = line.rfind(',');
        if (comma != std::string::npos) {
            size_t b = line.find_first_not_of(' ', comma + 1);
            hashes.push_back(line.substr(b));
        }
    }
    return hashes;
}
