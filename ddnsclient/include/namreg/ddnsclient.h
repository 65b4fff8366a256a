/*
 * ddnsclient: the DDNS client library (client context, settings, the HLDM
 * DDNS service and the public providers) and the HLDM request codec.
 */
#ifndef NAMREG_DDNSCLIENT_H
#define NAMREG_DDNSCLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- HLDM request codec ----------------------------------------------- */

#define CODEC_ERR_OUTPUT_SIZE ((int32_t)0x80000001u) /* output too small; needed size written back */
#define CODEC_ERR_MALFORMED   ((int32_t)0x80000002u) /* not a valid encoded text */

/* Buffer sizes (terminating zero byte included) for n input bytes / an
 * encoded text of n characters. */
int32_t HALDStrCodec_GetEncodeSize(int32_t n);
int32_t HALDStrCodec_GetDecodeSize(int32_t n);
/* Encode / decode; *capacity is the output buffer's size.  Result: the length
 * produced, or one of the CODEC_ERR_* codes. */
int32_t HALDStrCodec_Encode(const unsigned char *input, int32_t n, char *output, int32_t *capacity);
int32_t HALDStrCodec_Decode(const char *input, int32_t n, unsigned char *output, int32_t *capacity);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_DDNSCLIENT_H */
