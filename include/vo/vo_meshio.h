/*
 * Mesh files (module vomeshio, 70): the byte writer and reader procedure
 * types, the module's control and callback codes and the write modes.
 *
 * A mesh file holds mesh primitives with chosen element properties, binary
 * ("VXMB") or text ("VXMA"). Its bytes go through the two replaceable
 * procedures below; by default they write to and read from the file of
 * control 0x460001.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_MESHIO_H
#define VO_MESHIO_H

#include <stddef.h>
#include <stdint.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The byte writer takes a count and the bytes; 0, or non-zero when not
 * every byte was written. */
typedef VtStatus (*VtMeshWriter)(uint32_t count, const void *bytes);
/* The byte reader fills the buffer with *count bytes (0, or 2 when fewer are
 * there). In text mode a count of 0 asks for one token: blanks (spaces and
 * newlines) skipped, the characters up to the next blank copied and ended by
 * a zero (at most 128 of them: the buffer holds 129 bytes), the following
 * blanks skipped and the token's length stored in *count. */
typedef VtStatus (*VtMeshReader)(uint32_t *count, void *buffer);

/* Write modes (control 0x460002) and the mode a read is in. */
enum VtMeshMode { VO_MESH_MODE_NONE = 0, VO_MESH_MODE_BINARY = 1, VO_MESH_MODE_TEXT = 2 };

#define VO_CONTROL_MESHIO_FILE 0x460001u   /* VtGenericPtr: the file (a FILE *) of the default procedures */
#define VO_CONTROL_MESHIO_MODE 0x460002u   /* VtEnum: the write mode, 1 binary (default) or 2 text */
#define VO_CALLBACK_MESHIO_WRITE 0x460001u /* VtMeshWriter */
#define VO_CALLBACK_MESHIO_READ 0x460002u  /* VtMeshReader */

/* The property code standing for a primitive's type-and-flags word. */
#define VO_MESHIO_FLAGS_CODE 0x102u

#ifdef __cplusplus
}
#endif

#endif /* VO_MESHIO_H */
