// SPDX-License-Identifier: MIT
// Internal entry of the HLDM request codec: the encoder with the starting
// divisor index given instead of read from the clock.
#ifndef NAMREG_DDNSCLIENT_CODEC_INTERNAL_H
#define NAMREG_DDNSCLIENT_CODEC_INTERNAL_H

#include <stdint.h>

namespace namreg {

// HALDStrCodec_Encode with the divisor index of the first group (0..7; only
// the three low bits count) chosen by the caller.
int32_t HALDStrCodec_EncodeWithIndex(const unsigned char *input, int32_t n, char *output,
                                     int32_t *capacity, uint32_t index);

}  // namespace namreg

#endif  // NAMREG_DDNSCLIENT_CODEC_INTERNAL_H
