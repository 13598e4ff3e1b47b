// Access units of the first AAC track of an MP4 / M4A file, read through
// libavformat's container parser (no decoding: only the track's decoder
// configuration and its packets are taken).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Mp4Demuxer {
public:
    // Reads up to `n` bytes at the current position; returns the count, 0 at the end.
    using Read = std::function<size_t(uint8_t* dst, size_t n)>;
    // Moves to an absolute offset; false when it cannot.
    using Seek = std::function<bool(uint64_t offset)>;

    Mp4Demuxer();
    ~Mp4Demuxer();
    Mp4Demuxer(const Mp4Demuxer&) = delete;
    Mp4Demuxer& operator=(const Mp4Demuxer&) = delete;

    // Parses the container and picks its first AAC track. `size` is the
    // file's length. False with *error set when the file is no MP4 or holds
    // no AAC track.
    bool open(Read read, Seek seek, uint64_t size, std::string* error);

    const std::vector<uint8_t>& audioSpecificConfig() const { return asc_; }
    // Access units the track declares (0 when the file does not say).
    uint64_t unitCount() const { return units_; }
    int trackIndex() const { return track_; }
    int trackCount() const { return tracks_; }

    // The next access unit of the track, in order; false at the end or on a
    // read error (error() tells which).
    bool nextUnit(std::vector<uint8_t>* unit);
    const std::string& error() const { return error_; }

    struct State; // the library's contexts and our reader

private:
    std::unique_ptr<State> s_;
    std::vector<uint8_t> asc_;
    uint64_t units_ = 0;
    int track_ = -1;
    int tracks_ = 0;
    std::string error_;
};
