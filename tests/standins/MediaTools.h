// Reference media made with ffmpeg on the Linux side, and checks of written files with
// ffprobe and ffmpeg.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// An H.264 elementary stream (Annex-B) made by libx264 with the reference times of its
// access units in decode order.
struct RefStream {
    std::string h264Path;               // Linux path of the .h264 file
    std::string bytes;                  // its contents
    std::vector<int64_t> pts;           // 100 ns units, decode order
    std::vector<bool> key;              // key frame flags, decode order
};
// x264Args are added to the encoder's options (e.g. "-bf 2 -g 12"). Empty on failure.
RefStream MakeRefStream(int width, int height, int fps, int frames, const std::string& x264Args);

// ffprobe's values for the first video stream ("codec_name", "width", "height",
// "nb_read_frames", "duration", ...), frames counted.
std::map<std::string, std::string> ProbeVideo(const std::string& unixPath);
// Number of packets ffprobe marks as key frames.
int CountKeyPackets(const std::string& unixPath);
// The decoded frames' MD5 sums in presentation order (ffmpeg -f framemd5).
std::vector<std::string> FrameHashes(const std::string& unixPath);
