// 16-bit PCM WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t channels,
              int32_t sampleRate);

// Reads a 16-bit PCM WAV file; false for anything else.
bool readWav(const std::string& path, std::vector<int16_t>* pcm, int32_t* channels,
             int32_t* sampleRate);
