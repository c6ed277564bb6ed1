#pragma once
// Helpers for the container library tests: ffmpeg-made fixtures, copying a
// movie sample by sample through reader and writer, building small atoms.

#include <cstdint>
#include <string>
#include <vector>

struct MovieFile;

namespace qttest {

// lavfi test sources (2 s of 320x240 video at 25 fps and a 440 Hz tone)
// followed by the given encoding arguments.
std::string sourceFixture(const std::string& name, const std::string& encodeArgs);

// Reads every sample of src and writes it into dst with the writer: tracks,
// timescales, codec configuration, time-to-sample and edit lists copied.
// Samples are written in file order, so chunks keep their interleaving.
bool copyMovie(const std::string& src, const std::string& dst);

// Big-endian atom building.
void put32(std::vector<uint8_t>& b, uint32_t v);
void put64(std::vector<uint8_t>& b, uint64_t v);
void put16(std::vector<uint8_t>& b, uint16_t v);
void putType(std::vector<uint8_t>& b, const char* type);
// size + type + payload
std::vector<uint8_t> atom(const char* type, const std::vector<uint8_t>& payload);
// size + type + version/flags + payload
std::vector<uint8_t> fullAtom(const char* type, uint8_t version, uint32_t flags, const std::vector<uint8_t>& payload);
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);

// Writes bytes to a scratch file and returns its name.
std::string writeScratch(const std::string& test, const std::string& name, const std::vector<uint8_t>& bytes);

// Runs a callable with standard output captured; returns the text.
std::string captureStdout(void (*fn)(void*), void* arg);

}  // namespace qttest
