/*
 * nubocodec: lossless block codec for 16-bit PCM audio.
 *
 * One call, NuboWaveConvert, encodes, decodes or verifies one block of at most
 * 2047 interleaved 16-bit samples with coder version 20, 21 or 22. The caller
 * owns the parameter record and both buffers:
 *
 *   - the sample buffer holds up to 2047 samples (4094 bytes), low byte first,
 *     channels interleaved (with 2 channels even indexes are channel 0);
 *   - the code buffer holds one code block and must be at least
 *     NUBO_MAX_CODE_BLOCK_BYTES (4098) bytes long.
 *
 * Every call is complete in itself: the coder state lives on the call's stack,
 * so calls on different records and buffers may run on several threads at once.
 * The library allocates no memory.
 *
 * Usable from C and C++.
 */
#ifndef NUBOCODEC_H
#define NUBOCODEC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The 20-byte parameter record; its layout is part of the interface. */
typedef struct ConvertParams {
    uint16_t flags;          /*  0: NUBO_FLAG_* bits (low four read); after result 2: byte index of the first difference */
    uint16_t sampleCount;    /*  2: encode: samples in the buffer; decode: samples of a block without count extension;
                                    after result 2: the caller's byte at the difference, sign-widened */
    uint16_t channels;       /*  4: 1 or 2; after result 2: the decoded byte at the difference, sign-widened */
    uint16_t reserved;       /*  6: never read or written by the library */
    uint32_t coderVersion;   /*  8: 0..20 select version 20, then 21, 22; anything else returns 1 */
    int32_t  coderParameter; /* 12: carried by the caller; never read by the library */
    uint16_t codeSize;       /* 16: out: bytes of the code block, header and count extension included */
    uint16_t decodedCount;   /* 18: out: samples that the block holds */
} ConvertParams;

/* Operation bits of ConvertParams.flags. */
#define NUBO_FLAG_ENCODE          1u /* code the sample buffer into the code buffer */
#define NUBO_FLAG_DECODE          2u /* decode the code buffer; ignored when ENCODE is set */
#define NUBO_FLAG_VERIFY          4u /* after a successful encode or decode, decode again and compare */
#define NUBO_FLAG_COUNT_EXTENSION 8u /* encode only: the block records its own sample count */

/*
 * flags with neither ENCODE nor DECODE code nothing and write nothing; the
 * result is then 0, so NUBO_FLAG_VERIFY alone checks the code block against
 * the sample buffer (with the mismatch report of result 2).
 */

/* Result codes. */
#define NUBO_OK                      0  /* success */
#define NUBO_UNSUPPORTED_VERSION     1  /* coderVersion above 22; nothing touched */
#define NUBO_VERIFY_MISMATCH         2  /* flags/sampleCount/channels hold the mismatch report */
#define NUBO_TOO_MANY_SAMPLES        4  /* more than 2047 samples, or a block that cannot be framed */
#define NUBO_SIZE_MISMATCH           8  /* bytes consumed differ from the size field, or the block
                                           would need more than the code buffer holds */
#define NUBO_UNSUPPORTED_CHANNELS   16  /* channels other than 1 or 2; nothing touched */

#define NUBO_MAX_SAMPLES          2047
#define NUBO_MAX_CODE_BLOCK_BYTES 4098

/*
 * Runs the operation that params->flags selects with the coder that
 * params->coderVersion selects, and returns one of the result codes above.
 */
int32_t NuboWaveConvert(ConvertParams* params, void* samples, void* code);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
#define NUBO_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define NUBO_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
NUBO_STATIC_ASSERT(sizeof(ConvertParams) == 20, "ConvertParams is a 20-byte record");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, flags) == 0, "flags at offset 0");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, sampleCount) == 2, "sampleCount at offset 2");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, channels) == 4, "channels at offset 4");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, reserved) == 6, "reserved at offset 6");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, coderVersion) == 8, "coderVersion at offset 8");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, coderParameter) == 12, "coderParameter at offset 12");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, codeSize) == 16, "codeSize at offset 16");
NUBO_STATIC_ASSERT(offsetof(ConvertParams, decodedCount) == 18, "decodedCount at offset 18");
#undef NUBO_STATIC_ASSERT

#endif /* NUBOCODEC_H */
