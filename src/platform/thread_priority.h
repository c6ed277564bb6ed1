#pragma once
// Scheduling hints for helper threads.

namespace platform {

// Lets the calling thread yield the processor to the program's other threads
// (and to other programs) when they compete for it, for work that has to be
// done by the end but is on no one's path until then; whoever waits for it
// at the end should take over what is left rather than wait. Only a hint:
// where it is not supported nothing changes.
void yieldToOtherThreads();

}  // namespace platform
