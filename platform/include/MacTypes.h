// Basic scalar types and status codes shared by every platform interface.
#pragma once

#include <VXExport.h>

#include <stdint.h>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef UInt8 Byte;
typedef SInt8 SignedByte;
typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef unsigned char Str255[256];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char ConstStr255Param[256];
typedef UInt32 UTF32Char;
typedef UInt16 UniChar;
typedef unsigned long ItemCount;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

enum {
    noErr = 0,
    unimpErr = -4,
    fnfErr = -43,
    paramErr = -50,
    memFullErr = -108,
};

#ifdef __cplusplus
extern "C" {
#endif
// Writes a Pascal string (length byte first) to standard error; the platform
// drops into the debugger here, a headless run only reports.
VX_EXPORT void DebugStr(ConstStr255Param debuggerMsg);
#ifdef __cplusplus
}
#endif
