// The scanner's QA block: ten adjustment bytes kept by the scanner itself.
#pragma once

#include <cstdint>

namespace orvo {

// Reads the 12-byte QA block into `block`. 0, or -6 when the scanner does
// not answer in time, reports a device error, or a batch is running.
int QaRead(uint8_t (&block)[12]);

// Writes QA bytes 0 to 9 (followed by two zero bytes). 0, or -6 as above.
int QaWrite(const uint8_t* qa10);

// Sends the QA action of `selector` (0: operation 0x40, 1: 0x41), repeated
// while the scanner answers without completing cleanly. 0, or -6 on a
// time-out, a device error, after kQaWriteBudgetMs of unclean answers, or
// during a batch.
int QaAction(int selector);

// Bound on repeating a QA write or a QA action the scanner keeps answering
// without completing cleanly.
inline constexpr uint32_t kQaWriteBudgetMs = 25000;

}  // namespace orvo
