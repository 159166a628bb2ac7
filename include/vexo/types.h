/* Vexo public types: result codes, text units, handles and caller-owned strings.
 * Plain C99 so that C and C++ hosts share one ABI. */
#ifndef VEXO_TYPES_H
#define VEXO_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define VEXO_EXTERN_C extern "C"
#else
#define VEXO_EXTERN_C
#endif
#define VEXO_API VEXO_EXTERN_C __attribute__((visibility("default")))

/* ---- Result codes ---------------------------------------------------- */
/* Operations on the model, the decoder, the encoder and the filters return a
 * 32-bit result code: zero or positive means success, negative a failure. */
typedef int32_t HRESULT;

#ifndef S_OK
#define S_OK           ((HRESULT)0)
#define S_FALSE        ((HRESULT)1)          /* not found, no more, empty   */
#define E_INVALIDARG   ((HRESULT)0x80070057) /* null, foreign or wrong class */
#define E_OUTOFMEMORY  ((HRESULT)0x8007000E)
#define E_POINTER      ((HRESULT)0x80004003)
#define E_FAIL         ((HRESULT)0x80004005)
#define E_UNEXPECTED   ((HRESULT)0x8000FFFF)
#endif
/* An exhausted decode enumeration. */
#define VEXO_E_NOMOREITEMS ((HRESULT)0x80070490)

#define VEXO_SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define VEXO_FAILED(hr)    ((HRESULT)(hr) < 0)

/* ---- Text ------------------------------------------------------------ */
/* Model texts are UTF-16 code units; u"..." literals work from C++. */
#ifdef __cplusplus
typedef char16_t VexoChar;
#else
typedef uint16_t VexoChar;
#endif

/* A caller-owned UTF-16 string: the pointer addresses the first unit, a 32-bit
 * byte length sits just before it and a zero unit follows the text. Functions
 * that return one say so; release it with Vexo_freeString. */
typedef VexoChar *VexoString;

/* ---- Handles --------------------------------------------------------- */
/* Every model element (and the database itself) is a node; the first 32-bit
 * word of a node is its class code. Handles are opaque. */
typedef struct VexoNode VexoNode;

#endif
