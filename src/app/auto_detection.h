#pragma once
// -auto: looks at the head of the input for the signatures of the camera
// formats that need a dedicated recovery mode, and sets the mode flags.

#include <cstdint>
#include <string>

class ScanBuffer;
struct ScanInfo;

// Each test only sets flags in `info` and logs what it chose. `videoClass` is
// the working video class; the CRM test runs only for "CRAW".
void runAutoDetection(ScanBuffer& input, const std::string& videoClass, ScanInfo& info);

// The individual signature searches, on bytes already read (n of them) from
// the start of a file of fileSize bytes. Exposed for testing.
bool findCrmPayload(const uint8_t* data, int64_t n, int64_t fileSize);
bool findCrmWrappedContainer(const uint8_t* data, int64_t n);
bool findRepiRecord(const uint8_t* data, int64_t n);
// 0: none, 1: KLV key, 2: rtmd packet; the first match of either decides.
int findRsvSignature(const uint8_t* data, int64_t n);
