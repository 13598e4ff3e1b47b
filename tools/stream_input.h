// Reads the stream forms the tools accept: ADTS, ADIF, and raw access units
// with their AudioSpecificConfig (an .idx text file naming a .bin file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StreamInput {
    enum Form { kAdts, kAdif, kRawUnits };
    Form form = kAdts;
    std::vector<uint8_t> bytes;                 // the whole file (ADTS, ADIF) or the .bin
    std::vector<uint8_t> asc;                   // raw units: the AudioSpecificConfig
    std::vector<uint32_t> unitSizes;            // raw units: byte length of each unit, in order
};

// Loads `path`, detecting the form from the contents (an .idx file is the
// index form). On failure returns false and sets *error.
bool loadStreamInput(const std::string& path, StreamInput* in, std::string* error);

const char* streamFormName(StreamInput::Form form);
