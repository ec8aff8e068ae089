/* The implode/explode library's C interface, with the calling contract of the PKWARE Data
 * Compression Library. impborl.dll exports these functions as _implode, _explode and _crc32.
 *
 * Callbacks:
 *   read_buf(buf, size, param): places up to *size bytes of input in buf and returns how many it
 *     placed; 0 means the input is used up.
 *   write_buf(buf, size, param): takes *size bytes of output from buf.
 * param is handed back to both callbacks unchanged.
 *
 * All state lives in the caller's work buffer (EXP_BUFFER_SIZE bytes for explode,
 * CMP_BUFFER_SIZE for implode); nothing is allocated and no other memory is touched, whatever
 * the input bytes.
 *
 * dcl_implode(read_buf, write_buf, work_buf, param, type, dsize): compresses the whole input.
 *   *type is CMP_BINARY (8-bit literals) or CMP_ASCII (coded literals, smaller for text);
 *   *dsize is the dictionary size, 1024, 2048 or 4096 bytes.
 *   Returns CMP_NO_ERROR, CMP_INVALID_DICTSIZE or CMP_INVALID_MODE (nothing written then).
 *
 * dcl_explode(read_buf, write_buf, work_buf, param): expands one imploded stream; the mode and
 *   the dictionary size come from its first two bytes.
 *   Returns CMP_NO_ERROR    the end code was reached; all output was written;
 *           CMP_INVALID_DICTSIZE  byte 1 is not 4, 5 or 6;
 *           CMP_INVALID_MODE      byte 0 is not 0 or 1;
 *           CMP_BAD_DATA    a copy reaches before the start of the output;
 *           CMP_ABORT       the input ended before the end code.
 *   On an error the output written so far has gone through write_buf.
 *
 * dcl_crc32(buffer, size, old_crc): the CRC-32 of polynomial 0xEDB88320 (reflected), continued
 *   from *old_crc with no inversion inside: seed with 0xFFFFFFFF and complement the result for
 *   the usual CRC-32 ("123456789" gives CBF43926).
 */
#ifndef SAVER_CODEC_PKWARE_H
#define SAVER_CODEC_PKWARE_H

#if defined(_WIN32)
#define PK_CDECL __cdecl
#else
#define PK_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define CMP_BINARY 0
#define CMP_ASCII 1

#define CMP_NO_ERROR 0
#define CMP_INVALID_DICTSIZE 1
#define CMP_INVALID_MODE 2
#define CMP_BAD_DATA 3
#define CMP_ABORT 4

#define CMP_BUFFER_SIZE 36312 /* implode's work buffer */
#define EXP_BUFFER_SIZE 12596 /* explode's work buffer */

typedef unsigned int(PK_CDECL* pk_read_buf)(char* buf, unsigned int* size, void* param);
typedef void(PK_CDECL* pk_write_buf)(char* buf, unsigned int* size, void* param);

unsigned int PK_CDECL dcl_implode(pk_read_buf read_buf, pk_write_buf write_buf, char* work_buf,
                                  void* param, unsigned int* type, unsigned int* dsize);
unsigned int PK_CDECL dcl_explode(pk_read_buf read_buf, pk_write_buf write_buf, char* work_buf,
                                  void* param);
unsigned long PK_CDECL dcl_crc32(char* buffer, unsigned int* size, unsigned long* old_crc);

#ifdef __cplusplus
}
#endif

#endif
