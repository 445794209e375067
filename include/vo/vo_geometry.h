/*
 * The scene model's shared vocabulary: element kinds, property codes (the
 * geometry module's own and the fixed codes other modules own), primitive
 * types and flags, the property handler procedures, the vertex interpolation
 * routines, the procedural class record and the geometry controls.
 *
 * Every datum of a primitive, of its polygons, of its edges and of its
 * vertices is a numbered element property. A property code is
 * (element kind << 8) | slot with slots 0 to 127. Which properties a
 * primitive stores, and where inside each element's data block, is decided
 * by its contents record (VtContents); VoPropertyGetOffset answers the byte
 * offset of a property in one contents layout, and callers that touch many
 * elements cache that offset per contents record and read the element's
 * data block directly:
 *
 *     int32_t world = VoPropertyGetOffset(VoPrimitiveGetContents(p), VO_VERT_WORLD);
 *     if (world >= 0) { float *xyz = (float *)((char *)vertex + world); ... }
 *
 * An element handle (VtPolygon *, VtEdge *, VtVertex *) is the address of
 * the element's data block. Contents records are interned and live until the
 * library shuts down, so offsets cached for one stay valid.
 *
 * Relocation: setting a polygon or vertex property that the primitive's
 * contents lacks (VoPolygonSetProperty, and the polygon module's
 * VoVertexSetProperty), or changing the contents with VoPrimitiveSetContents,
 * may move every element of the changed kinds to new data blocks. Element
 * handles held across such a call are then stale; walk the rings again from
 * the primitive afterwards.
 *
 * This header is plain C (C99) and C++ compatible. <vo/vo_api.h> declares the
 * typedef names VtPrimitive, VtContents, VtPolygon, VtEdge and VtVertex.
 */
#ifndef VO_GEOMETRY_H
#define VO_GEOMETRY_H

#include <vo/vo_kernel.h>
#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtPrimitive;
struct VtContents;
struct VtVertex;

/* ------------------------------------------------------------------ */
/* Element kinds and property codes                                    */
/* ------------------------------------------------------------------ */

enum VtElementKind {
  VO_ELEMENT_PRIMITIVE = 1,
  VO_ELEMENT_POLYGON = 2,
  VO_ELEMENT_EDGE = 3,
  VO_ELEMENT_VERTEX = 4
};

#define VO_PROPERTY_SLOTS 128u /* slots per element kind */
#define VO_PROPERTY_CODE(kind, slot) ((((uint32_t)(kind)) << 8) | ((uint32_t)(slot)&0xFFu))
#define VO_PROPERTY_KIND(code) ((((uint32_t)(code)) >> 8) & 0x7u)
#define VO_PROPERTY_SLOT(code) (((uint32_t)(code)) & 0xFFu)
#define VO_PROPERTY_BYTES_MAX 4096u /* element size x count of one property */
#define VO_ELEMENT_BLOCK_MAX 32767u /* bytes of one element data block */

/* A property code; the name marks lists of codes (VoContentsListProperties). */
typedef uint32_t VtPropertyCode;

/* Primitive properties of the geometry module. */
#define VO_PRIM_CONTENTS 257u /* no storage: enquiry answers the contents word */
#define VO_PRIM_FLAGS 258u    /* no storage: enquiry answers the type-and-flags word */
#define VO_PRIM_ID 260u       /* the primitive's own address at creation */
#define VO_PRIM_NEXT 261u
#define VO_PRIM_POLYS 262u  /* first polygon of the polygon ring */
#define VO_PRIM_PARENT 263u /* the primitive an expanded piece came from */
#define VO_PRIM_NPOLYS 265u
#define VO_PRIM_VERTS 266u  /* first vertex of the vertex ring */
#define VO_PRIM_BOUNDS 267u /* six floats xmin, xmax, ymin, ymax, zmin, zmax */
#define VO_PRIM_EDGES 268u  /* first edge of the edge ring */
#define VO_PRIM_NVERTS 269u
#define VO_PRIM_NEDGES 270u
#define VO_PRIM_PREFS 292u /* member list of a list primitive (VtReference ring) */
#define VO_PRIM_NPREFS 293u
#define VO_PRIM_PROCCLASS 295u /* VtProceduralClass of a procedural primitive */
#define VO_PRIM_PROCDATA 296u  /* its instance data */
#define VO_PRIM_RETAINED 297u  /* retained expansion (VtReference ring) */
#define VO_PRIM_LINE_WIDTH 299u

/* Polygon properties of the geometry module. */
#define VO_POLY_PRIM 513u      /* the owning primitive */
#define VO_POLY_VREFS 514u     /* ring of vertex references, boundary order */
#define VO_POLY_VREFSCLIP 515u /* clipped boundary, or the vrefs ring */
#define VO_POLY_NEXT 516u
#define VO_POLY_NVERTS 517u
#define VO_POLY_PLANE 518u /* four floats a, b, c, d */
#define VO_POLY_PLANEPTR 519u
#define VO_POLY_PREV 520u
#define VO_POLY_AREA 521u
#define VO_POLY_CENTRE 522u
#define VO_POLY_FLAGS 523u
#define VO_POLY_EDGES 529u /* one edge of the polygon's edge ring */
#define VO_POLY_SQRTAREA 533u
#define VO_POLY_ANGLE 534u /* normal spread angle, radians */

/* Edge properties of the geometry module. */
#define VO_EDGE_NEXT 769u
#define VO_EDGE_FLAGS 770u
#define VO_EDGE_VREFS 771u /* reference node where the edge starts */
#define VO_EDGE_POLYS 772u /* polygons on sides 0 and 1 */
#define VO_EDGE_LENGTH 773u
#define VO_EDGE_CENTRE 774u
#define VO_EDGE_EDGES 775u /* per side, the next edge of that side's polygon */
#define VO_EDGE_VREFSCLIP 776u

/* Edge flags (property 770): one list for every module that reads or sets them. */
#define VO_EDGE_FLAG_HIDDEN 0x1u        /* drawn as hidden by the hidden-line renderer */
#define VO_EDGE_FLAG_BORDER 0x2u        /* one polygon only; the hidden-line renderer's kind 2 */
#define VO_EDGE_FLAG_SILHOUETTE 0x4u    /* set by the hidden-line renderer for one render */
#define VO_EDGE_FLAG_SHARED 0x10u       /* two polygons */
#define VO_EDGE_FLAG_SAME_POLYGON 0x20u /* both sides the same polygon: welded or bridge, drawn hidden */
#define VO_EDGE_FLAG_BYPASS 0x80u       /* a feature edge; drawn unchanged by the hidden-line second pass */
#define VO_EDGE_FLAG_SEGMENT 0x200u   /* made along the common segment of two polygons that cut each other */
#define VO_EDGE_FLAG_SEAM 0x1000u     /* two polygons meeting at a parametric seam */
#define VO_EDGE_FLAG_WINDOW_X 0x2000u /* a clipped outline's side along an x side of the view window */
#define VO_EDGE_FLAG_WINDOW_Y 0x4000u /* ... along a y side */
#define VO_EDGE_FLAG_WINDOW_Z 0x8000u /* ... along a z side */
#define VO_EDGE_FLAG_CIRCLE 0x20000u  /* offered to the hidden-line circle query */
#define VO_EDGE_FLAG_CULLED_KEPT 0x200000u /* classified even between two culled polygons */

/* Vertex properties of the geometry module, with the values each holds. The
 * data of a property given to VoPrimitiveCreatePolygon or
 * VoPrimitiveCreateMesh is a VtGenericPtr to that many values per vertex,
 * vertex after vertex (texture coordinates: 2 x vertex count floats). */
#define VO_VERT_WORLD 1025u              /* three floats x, y, z */
#define VO_VERT_NEXT 1026u               /* one pointer: the next vertex */
#define VO_VERT_SCREEN 1027u             /* four floats x, y, z, w */
#define VO_VERT_COLOUR 1028u             /* three floats red, green, blue */
#define VO_VERT_COVERT 1029u             /* one pointer: the coincident twin vertex */
#define VO_VERT_NORMAL 1030u             /* three floats */
#define VO_VERT_PARAMETRICCOORDS 1031u   /* two floats u, v */
#define VO_VERT_PARAMETRICCHANGE 1032u   /* two floats du, dv */
#define VO_VERT_PARAMETRICDERIVS 1033u   /* six floats */
#define VO_VERT_TEXCOORDS 1034u          /* two floats s, t */
#define VO_VERT_TRANSPARENCY 1035u       /* three floats red, green, blue */
#define VO_VERT_FLAGS 1036u              /* one 32-bit flags word */
#define VO_VERT_PARAMETRICDERIVS2 1043u  /* nine floats */
#define VO_VERT_GAUSSIAN_CURVATURE 1044u /* one float */
#define VO_VERT_MEAN_CURVATURE 1045u     /* one float */
#define VO_VERT_ABSOLUTE_CURVATURE 1046u /* one float */
#define VO_VERT_MINIMUM_CURVATURE 1047u  /* one float */
#define VO_VERT_MAXIMUM_CURVATURE 1048u  /* one float */

/* Fixed codes that other modules register under their own names. They are
 * listed here, in one place, so that no two modules take the same slot. */
#define VO_PRIM_MATERIAL 271u  /* shader kernel: "voshader:material:271" */
#define VO_PRIM_TEXSPACE 272u  /* shader kernel: "voshader:texspace:272" */
#define VO_PRIM_TRANSFORM 291u /* transforms: "voxform:transform:291" */
#define VO_PRIM_TRI_MESH 314u  /* geometry operators: "vogeom:tri_mesh:314" */
#define VO_PRIM_NPR_DATA 317u  /* NPR: "vonpr:data:317" */
#define VO_PRIM_NPR_PRIM 318u  /* NPR: "vonpr:prim:318" */
#define VO_PRIM_GL_PROPS 322u  /* OpenGL: "voopengl:gl_prim_props:322" */
#define VO_POLY_HL_DATA 530u   /* hidden line: "vorenhid:hl_data:530" */
#define VO_POLY_D0_DATA 531u   /* geometry operators: "vogeops:d0_data:531" */
#define VO_EDGE_HL_DATA 777u   /* hidden line: "vorenhid:hl_data:777" */

/* First automatic codes, for properties registered without a number. */
#define VO_PRIM_AUTOMATIC_FIRST 356u
#define VO_POLY_AUTOMATIC_FIRST 542u
#define VO_EDGE_AUTOMATIC_FIRST 788u
#define VO_VERT_AUTOMATIC_FIRST 1054u

/* ------------------------------------------------------------------ */
/* Property handlers                                                   */
/* ------------------------------------------------------------------ */

/* Operations of VoPropertySetHandler. The operation selects the handler
 * field; a null procedure installs the default named beside it. */
enum VtPropertyOperation {
  VO_PROPERTY_PRIMITIVE_COPY = 1,       /* null: copy the bytes */
  VO_PROPERTY_PRIMITIVE_INITIALISE = 2, /* null: nothing */
  VO_PROPERTY_PRIMITIVE_SET = 3,
  VO_PROPERTY_PRIMITIVE_ENQUIRE = 4, /* null: answer a zero word */
  VO_PROPERTY_PRIMITIVE_DESTROY = 5, /* null: nothing */
  VO_PROPERTY_POLYGON_COPY = 6,
  VO_PROPERTY_POLYGON_INITIALISE = 7,
  VO_PROPERTY_POLYGON_SET = 8,
  VO_PROPERTY_POLYGON_ENQUIRE = 9,
  VO_PROPERTY_POLYGON_DESTROY = 10,
  VO_PROPERTY_EDGE_COPY = 11,
  VO_PROPERTY_EDGE_INITIALISE = 12,
  VO_PROPERTY_EDGE_SET = 13,
  VO_PROPERTY_EDGE_ENQUIRE = 14,
  VO_PROPERTY_EDGE_DESTROY = 15,
  VO_PROPERTY_VERTEX_COPY = 16,
  VO_PROPERTY_VERTEX_INITIALISE = 17,
  VO_PROPERTY_VERTEX_SET = 18,
  VO_PROPERTY_VERTEX_ENQUIRE = 19,
  VO_PROPERTY_VERTEX_DESTROY = 20,
  VO_PROPERTY_VERTEX_INTERPOLATE = 21 /* null: not interpolated */
};

/* Handlers of primitive properties: initialise and destroy, enquire, copy. */
typedef VtStatus (*VtPrimitivePropertyProc)(struct VtPrimitive *primitive);
typedef VtStatus (*VtPrimitivePropertyEnquire)(struct VtPrimitive *primitive, VtTypedValue *answer);
typedef VtStatus (*VtPrimitivePropertyCopy)(struct VtPrimitive *source, struct VtPrimitive *destination);

/* Handlers of polygon, edge and vertex properties; an element is the
 * address of its data block. */
typedef VtStatus (*VtElementPropertyProc)(struct VtPrimitive *primitive, void *element);
typedef VtStatus (*VtElementPropertyEnquire)(struct VtPrimitive *primitive, void *element,
                                             VtTypedValue *answer);
typedef VtStatus (*VtElementPropertyCopy)(struct VtPrimitive *source, void *source_element,
                                          struct VtPrimitive *destination, void *destination_element);

/* A vertex property's own interpolator, called before the float blend with
 * the sources, their weights and the destination vertex. */
typedef VtStatus (*VtVertexInterpolator)(struct VtPrimitive *primitive, uint32_t count,
                                         struct VtVertex **sources, const float *weights,
                                         struct VtVertex *destination);

/* The interpolation routine of a contents layout (VoContentsGetInterpolator);
 * the second argument is not used. VoVertexInterpolate is the general one. */
typedef VtStatus (*VtInterpolationRoutine)(struct VtPrimitive *primitive, uintptr_t unused, uint32_t count,
                                           struct VtVertex **sources, const float *weights,
                                           struct VtVertex *destination);

/* ------------------------------------------------------------------ */
/* Primitives                                                          */
/* ------------------------------------------------------------------ */

/* Primitive types: the low 4 bits of the type-and-flags word. */
enum VtPrimitiveType {
  VO_PRIMITIVE_NONE = 0,    /* expands to nothing */
  VO_PRIMITIVE_POLYGON = 1, /* one polygon; owns its edges' reference rings */
  VO_PRIMITIVE_POLYGON_SHARED = 2,
  VO_PRIMITIVE_MESH = 3, /* a ring of polygons; owns its edges' reference rings */
  VO_PRIMITIVE_MESH_SHARED = 4,
  VO_PRIMITIVE_LINE = 5,         /* drawn along one polygon's vertex ring */
  VO_PRIMITIVE_LINE_MESH = 6,    /* drawn along a ring of polygons */
  VO_PRIMITIVE_LIST = 9,         /* members on prefs (292) */
  VO_PRIMITIVE_LIST_COPY = 10,   /* made by expansion from a list's members */
  VO_PRIMITIVE_EXPANDED_11 = 11, /* expanded by outside procedures */
  VO_PRIMITIVE_EXPANDED_12 = 12,
  VO_PRIMITIVE_EXPANDED_14 = 14,
  VO_PRIMITIVE_PROCEDURAL = 15 /* procclass (295) and procdata (296) */
};

/* The flags of the type-and-flags word. */
#define VO_PRIMITIVE_TYPE_MASK 0xFu
#define VO_PRIMITIVE_RETAINED_PIECE 0x10u /* a retained expansion's piece: goes with its primitive */
#define VO_PRIMITIVE_BRIDGED 0x20u        /* inner loops bridged by the last intersection */
#define VO_PRIMITIVE_TWO_SIDED 0x40u
#define VO_PRIMITIVE_TRIANGLES 0x80u      /* every polygon is a triangle */
#define VO_PRIMITIVE_HAS_EDGES 0x100u     /* shared edges have been built */
#define VO_PRIMITIVE_HAS_TRANSFORM 0x200u /* transform property 291 set */
#define VO_PRIMITIVE_TEMPORARY 0x400u     /* made by expansion */
#define VO_PRIMITIVE_OPEN_LINE 0x800u     /* no closing segment */
#define VO_PRIMITIVE_PROTECTED 0x1000u    /* cannot be destroyed */
#define VO_PRIMITIVE_RETAINED 0x2000u     /* holds a retained expansion (297) */
#define VO_PRIMITIVE_NO_SHADOW_CAST 0x4000u
#define VO_PRIMITIVE_NO_SHADOW_RECEIVE 0x8000u
#define VO_PRIMITIVE_NOT_IN_OCTREE 0x10000u
#define VO_PRIMITIVE_BOUNDS_HELD 0x20000u /* bounds property is authoritative */
#define VO_PRIMITIVE_INTERSECT_MARK 0x40000u
#define VO_PRIMITIVE_PRELIT 0x80000u
#define VO_PRIMITIVE_PRELIT_DIRECT 0x100000u
#define VO_PRIMITIVE_PRELIT_AREA 0x200000u
#define VO_PRIMITIVE_INTERSECT_MARK2 0x400000u

/* Expansion options (VoPrimitiveExpandToList, VoPrimitiveExpand,
 * VoPrimitiveListExpand). */
#define VO_EXPAND_RIBBONS 2u       /* line primitives become ribbons of polygons */
#define VO_EXPAND_AS_LIST 4u       /* expand to a fixed point: every piece is expanded again */
#define VO_EXPAND_RETAIN 16u       /* keep the pieces on the primitive (flag 0x2000, property 297) */
#define VO_EXPAND_PARENT 32u       /* every piece holds the primitive as its parent (263) */
#define VO_EXPAND_OWN_VERTICES 64u /* pieces keep the primitive's vertex properties too */

/* Contents kind masks (VoContentsMerge, VoContentsGetDataSize). */
#define VO_CONTENTS_PRIMITIVE 1u
#define VO_CONTENTS_POLYGON 2u
#define VO_CONTENTS_EDGE 4u
#define VO_CONTENTS_VERTEX 8u
#define VO_CONTENTS_ALL 15u

/* A procedural primitive's class (held by procclass 295; its instance data
 * in procdata 296). Entries may be null. */
typedef struct VtProceduralClass {
  VtProc reserved; /* not used by the geometry module */
  VtStatus (*release_data)(struct VtPrimitive *primitive, void *data);
  struct VtReference *(*expand)(struct VtPrimitive *primitive, void *data, struct VtContents *contents,
                                uint32_t options);
  VtStatus (*bounds)(struct VtPrimitive *primitive, void *data);
} VtProceduralClass;

/* ------------------------------------------------------------------ */
/* Geometry module codes                                               */
/* ------------------------------------------------------------------ */

#define VO_CONTROL_GEOMETRY_EXTRA_CONTENTS 0x20001u   /* VtGenericPtr: contents merged into expansions */
#define VO_CONTROL_GEOMETRY_PLANE_TOLERANCE 0x20002u  /* VtDouble */
#define VO_CONTROL_GEOMETRY_NORMAL_TOLERANCE 0x20003u /* VtDouble */
#define VO_CONTROL_GEOMETRY_LENGTH_FACTOR 0x20004u    /* VtFloat: custom length unit */
#define VO_CONTROL_GEOMETRY_LENGTH_UNIT 0x20005u      /* VtEnum 0-7 */
#define VO_CONTROL_GEOMETRY_CREASE_ANGLE 0x20006u     /* VtDouble, degrees 0..180 */
#define VO_CONTROL_GEOMETRY_NORMAL_FLAGS 0x20007u     /* VtFlags: 4 crease, 2 split, else average */

/* Procedure look-up of the geometry module (VoCallBackGet): answers
 * VoPropertyGetDescription. */
#define VO_CALLBACK_PROPERTY_DESCRIPTION 0x20001u

#ifdef __cplusplus
}
#endif

#endif /* VO_GEOMETRY_H */
