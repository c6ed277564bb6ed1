#pragma once
// Recordings whose samples carry units that ffmpeg's encoders never write
// but phones do (Dolby Vision metadata, scalable-stream prefix units): the
// encoder's byte stream gets the units planted, and ffmpeg muxes it into a
// movie with a tone, as a recorder would have stored it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace recorderunits {

using Bytes = std::vector<uint8_t>;

// Units to plant in front of the unit at `nal` (its header first), the
// `index`-th of the stream; an empty result plants none. A call with `nal`
// null asks for units to append behind the last.
using Planter = std::function<Bytes(const uint8_t* nal, size_t index)>;

// Encodes 2 s of the lavfi `picture` at 320x240 25 fps with `encode` into
// the raw `format` ("h264", "hevc"), plants units, and muxes the stream
// with 2 s of AAC using `mux` into `name` in a scratch folder of `test`.
// Empty on failure.
std::string plantedRecording(const std::string& test, const std::string& name, const std::string& picture,
                             const std::string& encode, const std::string& format, const Planter& plant,
                             const std::string& mux);

}  // namespace recorderunits
