// SPDX-License-Identifier: MIT
// Little-endian 32-bit loads and stores shared by the digest and the cipher.
#ifndef NAMREG_COMMON_BYTE_ORDER_H
#define NAMREG_COMMON_BYTE_ORDER_H

#include <stdint.h>

namespace namreg {
namespace byte_order {

inline uint32_t LoadLE(const unsigned char *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void StoreLE(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

}  // namespace byte_order
}  // namespace namreg

#endif  // NAMREG_COMMON_BYTE_ORDER_H
