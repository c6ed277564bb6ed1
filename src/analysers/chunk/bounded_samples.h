#pragma once
// Cutting a stretch of bytes whose both ends are known into whole samples.

#include "analysers/chunk/sample_codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The sizes of the samples that follow one another from `data` to exactly
// `n` bytes on; false (and `sizes` empty) when the codec cannot explain every
// byte, or the stretch would take more than `maxSamples` samples.
bool tileBoundedSamples(const SampleCodec& codec, const uint8_t* data, int64_t n, size_t maxSamples,
                        std::vector<int32_t>& sizes);

// How many bytes from `data` whole samples fill, one after another, before
// the codec finds none (at most `n`, at most `maxSamples` samples).
int64_t leadingBoundedSamples(const SampleCodec& codec, const uint8_t* data, int64_t n, size_t maxSamples);
