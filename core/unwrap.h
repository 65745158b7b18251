/*
 * unwrap.h: deciding whether a loaded file needs unwrapping, and doing it.
 *
 * Both routines work on a "loaded buffer": the file's size bytes followed by
 * one guard byte 0xCC at index size. The guard is neither 0x00 nor 0xFF, so a
 * scan over zero bytes always stops on it and it never completes a frame sync.
 * Nothing here touches the platform, so the same code builds natively for the
 * sanitizer and fuzzer builds.
 */
#ifndef KORVANE_CORE_UNWRAP_H
#define KORVANE_CORE_UNWRAP_H

#include <stddef.h>
#include <stdint.h>

#define LOADED_BUFFER_GUARD 0xCC

/* True when the bytes do not already start, after an optional ID3v2 tag and
 * zero bytes, with an MPEG frame sync. */
bool NeedsConversion(unsigned char *buffer, uint32_t size);

/* Rewrites the buffer as tag, zero bytes and the payloads of the data chunks;
 * returns the new length, or 0 when the file can't be unwrapped. A RIFF whose
 * first format chunk names audio other than MPEG (PCM, ADPCM, ...) is refused
 * with 0: its data without that chunk could not be played. The work buffer
 * of size bytes may also be refused, and then 0 says nothing about the file:
 * a caller that passes noMemory learns there (true) that this was the cause,
 * so that it need not call a sound file damaged. */
uint32_t UnwrapRiff(unsigned char *buffer, uint32_t size, bool *noMemory = NULL);

#endif
