// 16-bit PCM WAV files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t channels,
              int32_t sampleRate);

// Reads a 16-bit PCM WAV file; false for anything else.
bool readWav(const std::string& path, std::vector<int16_t>* pcm, int32_t* channels,
             int32_t* sampleRate);

// Writes a 16-bit PCM WAV file as the samples come. A named file is written
// under a temporary name in the same folder and renamed when finished, so a
// run that stops early never leaves a truncated file under the requested
// name; its sizes are patched at the end. "-" writes to standard output: a
// pipe cannot be patched, so both sizes there are 0xFFFFFFFF ("until the
// end of the data"); a regular file as standard output is patched.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter(); // abandons an unfinished file
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Makes sure the output can be written (creates the temporary file) so
    // that an unwritable destination is known before any decoding.
    bool open(const std::string& path, std::string* error);
    bool begin(int32_t channels, int32_t sampleRate);
    bool write(const int16_t* samples, size_t count);
    // Patches the sizes, closes, renames into place.
    bool finish(std::string* error);
    // Removes the temporary file (nothing is left under either name).
    void abandon();

    // The temporary file's name while one exists, for a signal handler.
    const char* temporaryPath() const { return temp_.empty() ? nullptr : temp_.c_str(); }
    uint64_t dataBytes() const { return dataBytes_; }

private:
    bool writeHeader(uint32_t riffSize, uint32_t dataSize);
    std::string path_, temp_;
    FILE* f_ = nullptr;
    bool toStdout_ = false;
    bool seekable_ = false;
    bool failed_ = false;
    int32_t channels_ = 0, rate_ = 0;
    uint64_t dataBytes_ = 0;
    long headerAt_ = 0;
};
