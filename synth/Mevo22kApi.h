#pragma once

// The exported C functions of libmevo22k.so, as the host binds them by name. All arguments and
// results are 32-bit. PCM frames are two signed 16-bit little-endian samples, left first, at
// 22050 frames per second.

#ifdef __cplusplus
extern "C" {
#endif

// Real-time mode.
typedef int (*RtGenerateFn)(void* buffer, unsigned frames);                      // frames rendered
typedef int (*RtWriteMessageFn)(const unsigned char* message, unsigned length);  // not meaningful
typedef int (*RtStartFn)(void);                                                  // 1
typedef int (*RtStopFn)(void);                                                   // not meaningful
typedef unsigned (*RtRegWaveFn)(unsigned id, const unsigned char* adpcm, unsigned length,
                                unsigned rate);  // wave id, 0 on failure
typedef void (*RtDelWaveFn)(unsigned id);

// Whole-song mode.
typedef int (*SetRepeatFn)(int repeat);
typedef void (*SendDataFn)(const void* data, unsigned length);
typedef int (*FixDataFn)(void);
typedef unsigned (*GenerateFn)(void* buffer, unsigned bytes);
typedef int (*SeekFn)(unsigned ms);

#ifdef __cplusplus
}
#endif
