// Reads a compressed stream piece by piece, whatever its form, so that
// decoding needs memory independent of the input's length. Byte forms (ADTS,
// ADIF) are read in blocks; unit forms (raw access units of an .idx file,
// the first AAC track of an MP4 file) one access unit at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stream_input.h"

class StreamReader {
public:
    enum Form { kAdts, kAdif, kRawUnits, kMp4 };

    virtual ~StreamReader() = default;
    Form form() const { return form_; }
    bool unitForm() const { return form_ == kRawUnits || form_ == kMp4; }
    // Unit forms: the AudioSpecificConfig that describes the units.
    const std::vector<uint8_t>& asc() const { return asc_; }

    // Byte forms: up to `n` bytes into `dst`; 0 at the end.
    virtual size_t read(uint8_t* dst, size_t n) = 0;
    // Unit forms: the next access unit; false at the end or on an error.
    virtual bool nextUnit(std::vector<uint8_t>* unit) = 0;
    // Set when reading stopped on an error rather than at the end.
    const std::string& error() const { return error_; }

    // For progress: input consumed so far and its total (bytes, or units).
    virtual uint64_t done() const = 0;
    virtual uint64_t total() const = 0;
    // Unit forms: units declared by the index or the container (0 if unknown).
    virtual uint64_t declaredUnits() const { return 0; }

protected:
    Form form_ = kAdts;
    std::vector<uint8_t> asc_;
    std::string error_;
};

// Opens `path`, telling the form from the contents (an .idx name is the
// index form). Null with *error set for a missing, unreadable, empty or
// unrecognised file, or an MP4 file without an AAC track.
std::unique_ptr<StreamReader> openStreamReader(const std::string& path, std::string* error);

// A reader over a stream already in memory (borrowed, must outlive it).
std::unique_ptr<StreamReader> memoryStreamReader(const StreamInput& in);

const char* streamReaderFormName(StreamReader::Form form);

// True when the MP4 module is installed beside the tool and loads.
bool mp4InputSupported();
