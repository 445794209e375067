// Message numbers the library posts beyond the established ones. Every new
// number is listed here first, so that two modules never share one; new
// numbers are taken from 2000 upward.
#pragma once

#include <cstdint>

namespace vo::messages {

constexpr uint32_t kOutOfMemoryIn = 104;         // out of memory in what is named (what)
constexpr uint32_t kBadEnvironmentNumber = 368;  // an environment variable does not hold a number
constexpr uint32_t kNotATimer = 369;             // an address that is not a timer of the kernel
constexpr uint32_t kTimerClocksFull = 370;       // a sixth clock for a timer
constexpr uint32_t kChunkSizeRefused = 1101;     // a chunk-size control value out of range
constexpr uint32_t kBlockFreeRefused = 1102;     // a block freed into a pool it does not belong to
constexpr uint32_t kLibraryPoolRefused =
    1103;  // an application's dispose of a pool the library made (pool, tag)
// Reference rings an application hands in (any module), 2890-2899.
constexpr uint32_t kRingRefused = 2890;         // not a ring of live nodes (procedure, address, nodes alive)
constexpr uint32_t kRingElementRefused = 2891;  // a ring element of the wrong kind (procedure, element, kind)
constexpr uint32_t kLightStillListed = 2892;    // a last destroy of a light in the current light list (light)
// Work farm (vomultit), from 2000.
constexpr uint32_t kWorkFarmControlRefused = 2000;   // a work-farm control value out of range
constexpr uint32_t kWorkFarmCallbackRefused = 2001;  // a work-farm callback set, or a code it does not have
constexpr uint32_t kWorkFarmBadArgument = 2002;      // a work-farm procedure refuses its arguments
constexpr uint32_t kWorkFarmThreadRefused = 2840;    // a worker thread could not be started (started, asked)
constexpr uint32_t kWorkFarmWorkerGaveUp = 2841;     // a worker gave up its pass (worker, status; debug)
constexpr uint32_t kWorkFarmPassInline = 2842;       // a pass runs on the calling thread (why; debug)
constexpr uint32_t kWorkFarmCountCapped =
    2843;  // a worker count above the most taken as the most (asked, most)
constexpr uint32_t kWorkerRenderRefused = 2844;  // a render asked on a worker thread (module, code)
constexpr uint32_t kViewArgumentRefused = 2090;  // a view procedure refuses an argument (procedure, reason)

// View clipping, expansion and picking, from 2060.
constexpr uint32_t kClipRefused = 2060;  // a clipping procedure refuses its arguments (procedure, reason)
constexpr uint32_t kAutoClipUnbounded = 2061;  // auto clipping from scene bounds at the float limit (view)

// Geometry module (vogeom), from 2010.
constexpr uint32_t kPropertyTooLarge = 2010;       // a property registration of more than 4096 bytes
constexpr uint32_t kLayoutTooLarge = 2011;         // an element layout over 32767 bytes or a pool chunk
constexpr uint32_t kListCycle = 2012;              // a list primitive that contains itself
constexpr uint32_t kPropertyNotRegistered = 2013;  // a property code with no registered property
constexpr uint32_t kElementNotLive = 2014;         // an address that is no live element of the kind
constexpr uint32_t kElementForeign = 2015;         // an element of another layout than the primitive's
constexpr uint32_t kPrimitiveNotLive = 2016;       // an address that is no live primitive
constexpr uint32_t kPropertyNoStorage = 2017;      // a set of a property that has no storage
constexpr uint32_t kElementStillNamed =
    2018;  // a destroy of a vertex or edge a polygon or edge still names (element, kind, namer, its kind)
constexpr uint32_t kNormalsWithoutProperty =
    2019;  // vertex normals asked of a polygon or mesh without the normal property (primitive, name, code)
constexpr uint32_t kListTooDeep =
    2020;  // a list primitive nested deeper than a walk enters (list, depth, most)

// Polygon module (vopoly) and the geometry it builds, from 2030.
constexpr uint32_t kMeshIndexRefused = 2030;  // a mesh vertex index below 0 or at 2^28 or above
constexpr uint32_t kMeshCountRefused = 2031;  // a negative count of contours or of contour vertices
constexpr uint32_t kToleranceRefused = 2032;  // a coincidence tolerance that is negative or not finite
constexpr uint32_t kPolygonArgument = 2033;   // a polygon-module procedure refuses a null argument

// Transform module (voxform), from 2050.
constexpr uint32_t kTransformNotLive = 2050;  // an address that is no live transform record

// Shader kernel (voshader), from 2100 (2300-2349 when these run out).
constexpr uint32_t kShaderIndexRefused = 2100;  // a name or label index at or above its string table's count
constexpr uint32_t kShaderEntryMissing = 2101;  // a class lacks the entry an operation needs (slot)
constexpr uint32_t kShaderNotLive = 2102;       // an address that is no live shader
constexpr uint32_t kShaderControlRefused =
    2103;                                        // a shader-kernel control or callback code it does not offer
constexpr uint32_t kShaderNothingPushed = 2104;  // an environment pop with nothing pushed
constexpr uint32_t kShaderSlotRefused = 2105;    // an entry slot VoShaderExecuteEntry cannot call
constexpr uint32_t kShaderCountTooLarge = 2106;  // a string or parameter count whose storage overflows
constexpr uint32_t kShaderStringMissing = 2107;  // a string table given a null string (table, index)
constexpr uint32_t kMaterialNotLive = 2108;      // an address that is no live material
constexpr uint32_t kMaterialDefaultKept = 2109;  // the default material cannot be destroyed
constexpr uint32_t kMaterialClassUnknown =
    2110;                                     // a default-material control names no class of its type (name)
constexpr uint32_t kMaterialNoMemory = 2111;  // a material or its copied shaders could not be made
constexpr uint32_t kImageNestingTooDeep = 2112;  // an image initialised inside too many others (depth)
constexpr uint32_t kShaderNotLight =
    2113;  // a light procedure given a shader of another type (procedure, shader, type)
constexpr uint32_t kEntryDataForeign =
    2114;  // a class entry given data of no instance whose class has the entry (entry, data)
// Shader kernel image services (textures, environments, shadows), 2120-2129.
constexpr uint32_t kImageHandleNotLive = 2120;  // an address that is no live texture, bump map or environment
constexpr uint32_t kTexturePropertyRefused = 2121;  // a texture property index other than 0 or 1 (index)
constexpr uint32_t kNestedRenderRows = 2122;     // a nested render delivered other than its rows (light or 0)
constexpr uint32_t kShaderNoiseNoMemory = 2130;  // the noise tables could not be made at start
constexpr uint32_t kRayHitNoMemory = 2131;       // a ray hit's vertex buffer could not grow (bytes)
constexpr uint32_t kRayHitNoVertices =
    2132;  // a ray hit outside its polygon, or with none (primitive, polygon)

// Shader libraries (voshslte and the libraries on its frame), from 2300.
constexpr uint32_t kShadeableTooDeep =
    2300;  // a shadeable colour nested past the depth limit: colour kept (class)
constexpr uint32_t kImageUnusable = 2301;  // an image the image background cannot use (reason)

// Lite shader library (voshlite), from 2420.
constexpr uint32_t kLiteTableNotMade =
    2420;  // a table shared by a class's instances could not be made (class)
// Shared by the libraries on the frame, posted with the caller's module.
constexpr uint32_t kLiteHandleRefused = 2515;      // a handle argument refused: argument kept (class, label)
constexpr uint32_t kLiteBackgroundTooDeep = 2516;  // composing shaders nested deeper than 16: black (class)
constexpr uint32_t kLiteImageUnusable = 2517;      // an image a class cannot use (class, name or reason)

// Classic shader library (voshclas), 2550-2564.
constexpr uint32_t kClassicFogLightSkipped = 2550;  // a fog-light record not made: the light skipped (light)

// Pro shader library (voshpro): the system's own numbers (debug class),
// then 2565-2579.
constexpr uint32_t kProSunAltitude = 644;  // a sun altitude held to [0, 90] degrees (value, bound)
constexpr uint32_t kProSunAzimuth = 645;   // a sun azimuth outside [0, 360) taken as 0 (value, 0.0)
constexpr uint32_t kProSkyType = 646;      // an unknown sky type: "CIE overcast" (text, name)
constexpr uint32_t kProComplexity = 647;   // a complexity held to [0, 1] (value, bound)
constexpr uint32_t kProSpectral = 648;     // an unknown spectral distribution: "D65" (text, name)
constexpr uint32_t kProDomeTransform =
    2565;  // the dome's frame could not be made: directions left in its own
constexpr uint32_t kProLuminaireRefused =
    2566;                                   // a luminaire file refused: the light stays dark (file, status)
constexpr uint32_t kProAreaNoMemory = 910;  // an area light's build without memory (light)
constexpr uint32_t kProAreaNoPrimitive = 911;  // an area light without a usable primitive (light)
constexpr uint32_t kProAreaBuildFailed =
    912;  // an area light's build failed: it gives nothing (status, light)
constexpr uint32_t kProAreaRefineNoMemory = 913;  // an area light's sampling without memory (light)
// Light sources and the light-scattering foreground, 2580-2589.
constexpr uint32_t kProAreaBudget =
    2580;  // an area light's element budget reached: pieces used whole (light)
constexpr uint32_t kProScatterCapped = 2581;   // scattering samples capped: the AA level lowered (level used)
constexpr uint32_t kProScatterSkipped = 2582;  // a scattering volume skipped (light, reason)
// Pro surface classes, 2590-2599.
constexpr uint32_t kProVectorZero = 2590;  // a zero thread vector: dPds + dPdt taken, once per image (class)
constexpr uint32_t kProCurvatureDivision = 2591;  // a curvature division above 4096 taken as 4096 (division)
constexpr uint32_t kProSteppedNoTable = 2592;     // no colour table: Co kept, once per image (class)
constexpr uint32_t kProRecordNoMemory = 2593;     // a class's table or record could not be made (class)

// Geometry operators (vogeops), from 2180.
constexpr uint32_t kFanFallback = 2180;           // a polygon with no ear left is fanned from one corner
constexpr uint32_t kStripSeedNotTriangle = 2181;  // strips refused: a polygon is not a triangle
constexpr uint32_t kTriangulateRefused = 2182;    // a primitive triangulation refuses (reason)
constexpr uint32_t kGeopsStartRefused = 2183;     // a second start of the geometry operators

// Polygon intersection (vogeops), from 2190.
constexpr uint32_t kIntersectTakenOnce = 2190;  // a primitive met again in the scene is cut once (primitive)
constexpr uint32_t kIntersectLoopsOverlap =
    2191;  // a polygon's separate loops overlap: primitive left out (primitive)

// Driver framework (vodriver): the system's own numbers, then from 2200.
constexpr uint32_t kInterruptReceived = 414;      // the interrupt signal was received (status 0)
constexpr uint32_t kDriverNotMadeCurrent = 460;   // a new driver was not made current (driver name)
constexpr uint32_t kImageDataNotOwned = 494;      // an image's pixel block is the caller's: not freed
constexpr uint32_t kImageDataNotReplaced = 495;   // an image's pixel block is the caller's: not replaced
constexpr uint32_t kImageFileNotOpened = 517;     // an image file cannot be opened (name)
constexpr uint32_t kImageFileNotRead = 518;       // no driver reads the image file (name)
constexpr uint32_t kDriverNotOpen = 574;          // an operation fetched from a driver that is not open
constexpr uint32_t kDriverControlNotSet = 585;    // a driver control not set (control, driver)
constexpr uint32_t kDriverControlNotGot = 591;    // a driver control not got (control, driver)
constexpr uint32_t kImageCopyWithoutImage = 640;  // an image copy without an image
constexpr uint32_t kDriverRefusedRaster = 641;    // a driver refused raster output (driver name)
constexpr uint32_t kImageModeNotHandled = 642;    // an image mode the copy does not handle (mode)
constexpr uint32_t kDriverArgumentRefused =
    2200;  // a driver-framework procedure refuses an argument (procedure, reason)
constexpr uint32_t kImageNotLive = 2201;      // an address that is no live image (procedure)
constexpr uint32_t kConversionPresent = 464;  // a conversion installed on a driver that has one
constexpr uint32_t kConversionAbsent = 465;   // a conversion removed from a driver without one
constexpr uint32_t kConversionDefault =
    466;  // a conversion setting not given: default (control, driver, default)
constexpr uint32_t kConversionMissing = 467;   // a conversion used on a driver without one (driver)
constexpr uint32_t kConversionNoWidth = 473;   // a row converted before the conversion's frame start (driver)
constexpr uint32_t kImageDriverNoImage = 588;  // the image driver begins a frame without an image
constexpr uint32_t kImageFrameOutside = 589;   // a frame wholly outside the image (x0, x1, y0, y1)
constexpr uint32_t kImageFrameClipped = 590;   // a frame partly outside the image is clipped to it
// Image driver and colour conversion (module 26), from 2140.
constexpr uint32_t kImageFrameInverted =
    2140;  // a frame whose first bound lies beyond its last (x0, x1, y0, y1)
constexpr uint32_t kImageShapeRefused = 2141;  // a shape the image driver refuses (shape, reason)
// Wireframe renderer (vorenwir), from 2150.
constexpr uint32_t kWireRingBroken = 2150;   // a polygon's edge ring that does not close (polygon)
constexpr uint32_t kWireListTooDeep = 2151;  // expansions nested beyond the list depth limit (primitive)
// Hidden-line renderer (vorenhid), from 2380.
constexpr uint32_t kHiddenLineNotFinite =
    2380;  // a tolerance control refuses a value that is not finite (code)
constexpr uint32_t kHiddenLineNothing =
    2381;  // a primitive that expands to nothing draws nothing (primitive)
constexpr uint32_t kImageSizeRefused =
    2202;  // image sizes, depth or data size out of range (width, height, bits)
// Standard renderer (vorenstd), from 2320.
constexpr uint32_t kRendererPixelModeRefused = 2320;  // a pixel mode that is none of 0xc0001-0xc0005 (mode)
constexpr uint32_t kRendererCodeRefused = 2321;       // an execute code that names no render class (code)
constexpr uint32_t kRendererViewTooLarge = 2322;      // a resolution beyond 24.8 fixed point (x, y)

// File drivers (vodrvbmp, vodrvtga, vodrvjpg, vodrvqt): the system's own
// numbers, then from 2160.
constexpr uint32_t kFileReadFailed = 502;      // a bitmap file cannot be read (name)
constexpr uint32_t kFileSeekFailed = 504;      // a seek in a bitmap file fails (name)
constexpr uint32_t kBitmapDelta = 505;         // a bitmap's run-length data holds a position delta (name)
constexpr uint32_t kBitmapOneBit = 506;        // a bitmap of one bit per pixel (name)
constexpr uint32_t kBitmapCompression = 507;   // a bitmap compression not decoded (name)
constexpr uint32_t kTargaNoImage = 550;        // a version 2 Targa file of image type 0 (name)
constexpr uint32_t kTargaRowsShort = 551;      // fewer Targa rows written than the frame holds (rows, height)
constexpr uint32_t kTargaNotDecoded = 587;     // a Targa type or depth not decoded (name)
constexpr uint32_t kJpegLibrary = 793;         // the JPEG library's error, warning or trace (text)
constexpr uint32_t kFileWriteFailed = 827;     // an image file cannot be written
constexpr uint32_t kTargaReadFailed = 828;     // a Targa file cannot be read
constexpr uint32_t kFileHeaderRefused = 2160;  // an image file's header field refused (name, field)
constexpr uint32_t kTargaExtensionDropped = 2161;  // a Targa file past 4 GB keeps no extension area
constexpr uint32_t kFileFrameRefused = 2162;       // a file driver refuses a frame or row (driver, reason)
constexpr uint32_t kFileFrameSizeRefused =
    2163;  // a frame the file driver cannot make at its size (driver, width, height, reason; doubles)
// Image readers' limits, from 2850.
constexpr uint32_t kImagePixelsRefused =
    2850;  // an image file declares more pixels than the limit (name, width, height, limit)
constexpr uint32_t kImagePixelLimitRefused = 2851;  // a pixel limit below 1 (value)
constexpr uint32_t kJpegDataMissing = 2852;  // a JPEG file's scan data ends early (name, the library's text)
constexpr uint32_t kJpegSideRefused =
    2853;  // a JPEG frame with a side past the limit (driver, width, height, limit; doubles)

// Ray tracer (vorenray): the system's own numbers, then from 2360.
constexpr uint32_t kRayUnboundedMany = 528;    // more unbounded polygons than the leaf limit (count, limit)
constexpr uint32_t kRaySplitNoMemory = 531;    // an octree split ran out of memory: rebuilt (limit)
constexpr uint32_t kRayNeedsWorkFarm = 826;    // the ray tracer needs the work farm started
constexpr uint32_t kRayBuildNoMemory = 849;    // the octree cannot be built within its memory (limit)
constexpr uint32_t kRayRebuildNoMemory = 850;  // the rebuilt octree still runs out of memory (limit)
constexpr uint32_t kRayNothingGathered = 914;  // building without a gathered scene
constexpr uint32_t kRayControlRefused = 2360;  // a ray-tracer control value refused (control, reason)
constexpr uint32_t kRayObjectLeftOut =
    2361;  // a polygon with non-finite plane or vertices is not traced (polygon)
constexpr uint32_t kRayRingRefused =
    2362;  // a polygon ring that loops without closing, or 2^29 polygons (primitive)
constexpr uint32_t kRayServiceRefused =
    2363;                                 // a service set, or a code the ray tracer does not offer (code)
constexpr uint32_t kRayLayersCut = 2480;  // transparent layers past the limit are cut: black behind (limit)
constexpr uint32_t kRayOversampledTooLarge =
    2481;  // an oversampled resolution beyond 32 bits (width, height, factor)
// Screen buffers (voscrbuf, module 69): the system's own numbers, then from 2340.
constexpr uint32_t kScreenBufferReadBad = 679;          // a bad buffer for the RGBZ / RGBAZ row operations
constexpr uint32_t kScreenBufferGetRGBABad = 680;       // a bad buffer for GetScanRGBAFloat
constexpr uint32_t kScreenBufferSetRGBABad = 681;       // a bad buffer for SetScanRGBAFloat
constexpr uint32_t kScreenBufferGetRGBBad = 682;        // a bad buffer for GetScanRGBFloat
constexpr uint32_t kScreenBufferSetRGBBad = 683;        // a bad buffer for SetScanRGBFloat
constexpr uint32_t kScreenBufferGetPixelBad = 684;      // a bad buffer for GetPixel
constexpr uint32_t kScreenBufferSetPixelBad = 685;      // a bad buffer for SetPixel
constexpr uint32_t kScreenBufferGetRegionBad = 687;     // a bad buffer for GetRegion
constexpr uint32_t kScreenBufferSetRegionBad = 688;     // a bad buffer for SetRegion
constexpr uint32_t kScreenBufferGetControlBad = 689;    // a bad buffer for GetControl
constexpr uint32_t kScreenBufferSetControlBad = 690;    // a bad buffer for SetControl
constexpr uint32_t kScreenBufferSetBad = 691;           // a target that is not a buffer
constexpr uint32_t kScreenBufferShowBad = 692;          // nothing to show, or not a buffer
constexpr uint32_t kScreenBufferDestroyBad = 693;       // a bad buffer for Destroy
constexpr uint32_t kScreenBufferCopyBad = 694;          // a bad buffer for Copy
constexpr uint32_t kScreenBufferCopyContentsBad = 695;  // a bad buffer for CopyContents
constexpr uint32_t kScreenBufferAllocateBad = 696;      // a bad buffer for AllocateData
constexpr uint32_t kScreenBufferMaskBad = 697;          // a bad buffer for DeallocateData / GetDataMask
constexpr uint32_t kScreenBufferResizeNoMemory = 699;   // a new size whose storage cannot be had: old kept
constexpr uint32_t kScreenBufferShowNoMemory = 700;     // no row for showing a buffer
constexpr uint32_t kScreenBufferCreateNoMemory = 701;   // no block for a new buffer
constexpr uint32_t kScreenBufferCopyNoMemory = 702;     // a copy cannot be made
constexpr uint32_t kScreenBufferCopyContentsNoMemory = 703;  // no storage for copied contents
constexpr uint32_t kScreenBufferAllocateNoMemory = 704;      // channel storage cannot be had
constexpr uint32_t kScreenBufferClearBad = 707;  // a bad buffer or a channel without storage for Clear
constexpr uint32_t kScreenBufferGetPixelNoChannel = 708;  // a pixel read from a channel without storage
constexpr uint32_t kScreenBufferSetPixelNoChannel = 709;  // a pixel written to a channel without storage
constexpr uint32_t kScreenBufferTargetNoColour = 710;     // a target without colour storage
constexpr uint32_t kScreenBufferShowEmpty = 711;          // a buffer without size or colour storage shown
constexpr uint32_t kScreenBufferSetPixelType = 713;       // a pixel value of the wrong type code
constexpr uint32_t kScreenBufferClearType = 714;          // a clear value of the wrong type code
constexpr uint32_t kScreenBufferRegionOutside =
    716;  // a region beyond the buffer (x0, x1, y0, y1, width, height)
constexpr uint32_t kScreenBufferRegionColumns = 717;    // a region with x0 > x1 (x0, x1)
constexpr uint32_t kScreenBufferRegionRows = 718;       // a region with y0 > y1 (y0, y1)
constexpr uint32_t kScreenBufferHeightZero = 719;       // a height of 0
constexpr uint32_t kScreenBufferWidthZero = 720;        // a width of 0
constexpr uint32_t kScreenBufferNoDepth = 721;          // the depth test without depth storage
constexpr uint32_t kScreenBufferNoAlpha = 722;          // the alpha blend without alpha storage
constexpr uint32_t kScreenBufferNoStencil = 723;        // the stencil without stencil storage
constexpr uint32_t kScreenBufferControlUnknown = 725;   // a buffer control code outside the table
constexpr uint32_t kScreenBufferReadFailed = 726;       // a row read failed
constexpr uint32_t kScreenBufferWriteFailed = 727;      // a row write failed
constexpr uint32_t kScreenBufferGetPixelOutside = 728;  // a pixel read outside the buffer
constexpr uint32_t kScreenBufferSetPixelOutside = 729;  // a pixel written outside the buffer
constexpr uint32_t kScreenBufferClearFailed = 730;      // a clear failed
constexpr uint32_t kScreenBufferShowFailed = 731;       // showing a buffer failed (status)
constexpr uint32_t kScreenBufferNoTarget = 757;         // the depth pass without a target
constexpr uint32_t kScreenBufferViewSize =
    758;  // the depth pass on a target unlike the view (view x, y, width, height)
constexpr uint32_t kScreenBufferRowOutside = 759;         // a row past the region (operation, row, y0, y1)
constexpr uint32_t kScreenBufferPrecisionBad = 829;       // a bad buffer for SetPrecision
constexpr uint32_t kScreenBufferGetPrecisionBad = 830;    // a bad buffer for GetPrecision
constexpr uint32_t kScreenBufferPrecisionNoMemory = 831;  // a precision change without memory
constexpr uint32_t kScreenBufferAlphaRGBE = 832;          // alpha refused as RGBE
constexpr uint32_t kScreenBufferDepthPrecision = 833;     // depth refused as float or bytes
constexpr uint32_t kScreenBufferStencilPrecision = 834;   // the stencil's precision is fixed
constexpr uint32_t kScreenBufferNotStarted = 854;         // the screen buffer module is not started
constexpr uint32_t kScreenBufferTargetRowOutside =
    2340;  // a target row outside the buffer is skipped (y, height)
constexpr uint32_t kScreenBufferArgument =
    2341;  // a screen-buffer procedure refuses an argument (procedure, reason)
constexpr uint32_t kAdvancedCodeRefused = 2440;  // an execute code the advanced renderer refuses (code)
constexpr uint32_t kAdvancedDepthWithoutOutput = 2441;  // a depth render without a line-output callback
constexpr uint32_t kAdvancedServiceSet = 2442;        // the advanced renderer's services are get only (code)
constexpr uint32_t kAdvancedMaskTableRefused = 2443;  // a coverage-mask table of a refused size (n, m, u, v)
constexpr uint32_t kFilterCallbackRefused =
    2444;                                      // the filter module's callbacks are get only or unknown (code)
constexpr uint32_t kFilterSizeRefused = 2445;  // a filter grid count above 256 (index, count)

// Photometry (vophoto, module 66), 2530-2549.
constexpr uint32_t kPhotometryFileRefused = 2530;    // a luminaire file refused (file, line, reason)
constexpr uint32_t kPhotometryTypeRefused = 2531;    // a photometric type not handled (file, type)
constexpr uint32_t kPhotometryColourRefused = 2532;  // a colour refused (procedure, reason)
constexpr uint32_t kPhotometryRecordRefused =
    2533;  // a record procedure refuses an argument (procedure, reason)
constexpr uint32_t kPhotometryNotFinite =
    2534;  // a number in a luminaire file is not finite (file, line, what)
constexpr uint32_t kPhotometryLimitRefused =
    2535;  // a luminaire file past a fixed limit (file, line, what, value met, limit; doubles)

// Hidden-line second pass (vorenhid), from 2470.
constexpr uint32_t kHiddenLineEndNotFinite =
    2470;  // a stored segment with a non-finite end is dropped (primitive)
// Hidden-line chains and arcs (vorenhid), from 2485.
constexpr uint32_t kHiddenLineCircleRefused =
    2485;  // a circle answer is refused, the piece is an ordinary edge (primitive)
// Command interpreter (module 4), from 2820; 2825-2839 reserved.
constexpr uint32_t kSourceTooDeep = 2820;        // inputs nested past 64 (file, depth met, limit)
constexpr uint32_t kBinaryRecordRefused = 2821;  // a binary record refused (code, reason)
constexpr uint32_t kBinaryVariableRefused =
    2822;  // a binary variable number or count past the limit (number, limit)
constexpr uint32_t kBinaryRecordTooLong =
    2823;  // a binary record's argument bytes past the limit (code, length, limit)
constexpr uint32_t kScriptArrayTooLarge =
    2824;  // a declared array past the largest a variable holds (statement, count, type, largest count)
// Post-process stage (voshpost, module 68): the system's own numbers (posted
// with module 68, or 69 where marked), then 2660-2669.
constexpr uint32_t kPostNoBuffer = 736;         // no current screen buffer to run the list over
constexpr uint32_t kPostNoList = 737;           // no post-process list set
constexpr uint32_t kPostNoMemory = 738;         // out of memory in kernel or gather mode
constexpr uint32_t kPostShaderUnknown = 775;    // a list entry that cannot be described as a shader
constexpr uint32_t kPostWalkStarts = 755;       // (module 69) the list walk starts
constexpr uint32_t kPostWalkDone = 756;         // (module 69) the walk completed
constexpr uint32_t kPostShaderRuns = 773;       // (module 69) a shader of the list runs (shader)
constexpr uint32_t kPostShaderWrongType = 774;  // (module 69) a list shader not of type 0x440001 (shader)
constexpr uint32_t kPostWalkEndedEarly = 809;   // (module 69) the walk ended early
constexpr uint32_t kPostNestingRefused = 2660;  // a list run nested deeper than 8 is refused (depth)
constexpr uint32_t kPostFilterSizeRefused =
    2661;                                       // a filter size the prepare left is refused (width, height)
constexpr uint32_t kPostNoWayOfRunning = 2662;  // a class's mode word names no way of running (mode)
// The post-process classes, frame averaging and archive (module 68), then
// 2670-2679.
constexpr uint32_t kPostNoDriver = 464;       // no current output driver
constexpr uint32_t kPostFileNotOpened = 517;  // the archive's file cannot be opened (file)
constexpr uint32_t kPostNoScanline = 574;     // no driver of the name, or it has no scanline operation (name)
constexpr uint32_t kPostPixelRead = 684;      // a pixel read failed (x, y)
constexpr uint32_t kPostPixelWrite = 685;     // a pixel write failed (x, y)
constexpr uint32_t kPostPlaneMissing = 695;   // a buffer lacks a needed plane (mask)
constexpr uint32_t kPostRowNoMemory = 704;    // no memory for a row of bytes
constexpr uint32_t kPostHeightZero = 719;     // the height used is 0
constexpr uint32_t kPostWidthZero = 720;      // the width used is 0
constexpr uint32_t kPostNoCurrentBuffer = 752;    // the archive finds no current screen buffer
constexpr uint32_t kPostBufferFact = 753;         // a buffer fact cannot be read, or the archive failed
constexpr uint32_t kPostMatrixDefault = 815;      // the built-in matrix is used (rows, columns)
constexpr uint32_t kPostMatrixEmpty = 816;        // matrix rows or columns below 1 (rows, columns)
constexpr uint32_t kPostMatrixEven = 817;         // matrix rows or columns even (rows, columns)
constexpr uint32_t kPostScaleEmpty = 818;         // linear scale range empty (min, max)
constexpr uint32_t kPostLightsSelect = 819;       // unrecognised lights select (text)
constexpr uint32_t kPostNoVisibleFlare = 820;     // flares 3d without its visible flare
constexpr uint32_t kPostNoHiddenFlare = 821;      // flares 3d without its hidden flare
constexpr uint32_t kPostInterlaceNoBuffer = 859;  // interlace without a first buffer
constexpr uint32_t kPostInterlaceNoColour = 861;  // an interlace buffer lacks its colour plane
constexpr uint32_t kPostInterlaceSizes = 862;     // the interlace buffers differ in size
constexpr uint32_t kPostInterlaceTarget = 863;    // the interlace buffers do not fit "Bi"
constexpr uint32_t kPostGlowThreshold = 2670;     // glow's max threshold refused (max threshold)
// Lens flares, their light sources, render lights and flares 3d (module 68),
// then 2696-2703.
constexpr uint32_t kFlareNoBuffer = 732;  // light sources: no current screen buffer
constexpr uint32_t kFlareNoLights = 734;  // light sources: no light list
constexpr uint32_t kFlareViewSize =
    735;  // light sources: the view's resolution is not the buffer's (view x, y, width, height)
constexpr uint32_t kFlareInteger = 845;  // an integer argument out of range (class, label, value, low, high)
constexpr uint32_t kFlareFloat = 846;    // a float argument out of range (class, label, value, low, high)
constexpr uint32_t kFlareName = 847;     // an unrecognised shape or rays name (class, label, text)
constexpr uint32_t kFlareLensUnknown = 848;  // (warning) a lens name with no preset (name)
constexpr uint32_t kFlares3dRefused = 2696;  // flares 3d refuses a shader argument (label)
constexpr uint32_t kFlareNotFinite = 2697;   // a flare argument not finite is refused, kept as it was (label)
// Depth of field (module 68): the system's own numbers, then 2695 and
// 2704-2709.
constexpr uint32_t kDofFocalLength = 794;      // focal length not greater than 0 (focal length)
constexpr uint32_t kDofAperture = 795;         // aperture not greater than 0 (aperture)
constexpr uint32_t kDofFocusOrder = 796;       // near focus not below far focus (near, far)
constexpr uint32_t kDofNearFocus = 797;        // near focus below 0 (near focus)
constexpr uint32_t kDofFarFocus = 798;         // far focus below 0 (far focus)
constexpr uint32_t kDofFarBlur = 799;          // far blur below 0 (far blur)
constexpr uint32_t kDofNearBlur = 800;         // near blur below 0 (near blur)
constexpr uint32_t kDofUnits = 801;            // units not greater than 0 (units)
constexpr uint32_t kDofNearBeyondPlane = 802;  // near focus not before the focus plane (near, plane)
constexpr uint32_t kDofFarBeforePlane = 803;   // far focus not beyond the focus plane (far, plane)
constexpr uint32_t kDofFocusInsideLens = 804;  // the focal length reaches the near focus (f, near)
constexpr uint32_t kDofFocusTooNear = 805;     // the focus distance does not exceed the focal length (F, f)
constexpr uint32_t kDofOneTable = 806;         // (note) one disc table: nothing blurs
constexpr uint32_t kDofNoFarBlur = 807;        // (note) the far blur stays below a pixel
constexpr uint32_t kDofNoNearBlur = 808;       // (note) the near blur stays below a pixel
constexpr uint32_t kDofNoDepth = 824;          // "Bi" has no depth plane
constexpr uint32_t kDofParallelView = 2695;    // depth of field refuses a parallel view
constexpr uint32_t kDofNotFinite = 2704;       // a depth-of-field argument is not finite (label)
constexpr uint32_t kDofRadiusLimited = 2705;   // (note) the largest blur radius is limited (radius, limit)
// Selective antialiasing and the two-view render (module 68), 2680-2694.
constexpr uint32_t kPostRadixReplaced =
    2680;  // a Halton radix below 2 replaced by the default (radix, default)
constexpr uint32_t kPostDisplaySkipped = 2681;  // a display skipped: no driver or no row operation
constexpr uint32_t kPostNoRayTracer = 2682;     // the propagator finds no ray-trace service

// NPR strokes (vonpr, module 96), 2610-2629.
constexpr uint32_t kNprPostprocessUnknown =
    2610;  // (debug) shader type 0x440001 unknown: its classes skipped
constexpr uint32_t kNprEdgeRefused =
    2611;  // an edge that is not a live NPR edge is refused (procedure, code)
constexpr uint32_t kNprControlRefused = 2612;  // a control value refused, the old one kept (reason, code)
constexpr uint32_t kNprActionRunning = 2613;   // an action started while one runs is refused (reason, code)
// NPR backgrounds and shading classes, 2630-2644.
constexpr uint32_t kNprBackgroundRefused = 2630;  // not a live NPR background (procedure)
constexpr uint32_t kNprBackgroundNotMade = 2631;  // a background cannot be made (reason)
constexpr uint32_t kNprBackgroundImageGone =
    2632;  // a background's image is gone: the fill colour (once per background)
constexpr uint32_t kNprLightRecordSkipped =
    2633;  // a light record cannot be made: the light skipped (class; once per prepare)

// NPR post-process classes (vonpr, module 96), 2645-2659.
constexpr uint32_t kNprPostArgumentRefused = 2645;  // a class refuses an argument (class, label, value)
constexpr uint32_t kNprPostNoMemory = 2646;         // a class runs out of memory (class)
constexpr uint32_t kNprPostDepthIgnored =
    2647;  // (debug) "use z" on a buffer without depth: z ignored (class)

// Mesh files (vomeshio, module 70): 649 and 2800-2819.
constexpr uint32_t kMeshSaveNoCodes = 649;   // a mesh save without property codes
constexpr uint32_t kMeshFileRefused = 2800;  // a mesh file or save refused (procedure, reason)
constexpr uint32_t kMeshLimitRefused =
    2802;  // a mesh file or save past a fixed limit (procedure, what, value met, limit)
constexpr uint32_t kMeshLoadCut =
    2803;  // a mesh load ended before the header's mesh count (bytes read, meshes read, header's count)
// Mesh files VoMeshLoad refuses, said with the place of the fault (module
// 70), 2985-2986.
constexpr uint32_t kMeshLoadRefused = 2985;  // a mesh file VoMeshLoad refuses (unit, place, reason)
constexpr uint32_t kMeshLoadLimit =
    2986;  // a mesh file VoMeshLoad refuses past a fixed limit (unit, place, what, value met, limit)
// Scene objects in object files (voobject, module 112), from the same range.
constexpr uint32_t kObjectRecordRefused = 2801;  // a scene object refused in an object file (type, reason)

// OpenGL targets (voogldrv, module 116): the system's own numbers, then
// 2710-2719.
constexpr uint32_t kOGLTargetNotMade = 1048;       // a target cannot be made
constexpr uint32_t kOGLWindowRequirements = 1050;  // a window OpenGL refuses (the lines that apply)
constexpr uint32_t kOGLMakeCurrentFailed = 1052;   // a target cannot be made current
constexpr uint32_t kOGLSwapFailed = 1053;          // the buffers cannot be swapped
constexpr uint32_t kOGLReleaseFailed = 1054;       // a target cannot be released
constexpr uint32_t kOGLInvalidOperation =
    1057;                                 // an invalid floating-point operation while OpenGL was current
constexpr uint32_t kOGLNoSharing = 1058;  // display lists cannot be shared
constexpr uint32_t kOGLPlatformUnavailable = 2710;  // EGL cannot start (EGL error)
constexpr uint32_t kOGLModeInFrame = 2711;          // the target mode changes while a target is current
constexpr uint32_t kOGLNotAWindow = 2712;           // the window driver is given no live window
constexpr uint32_t kOGLWindowGone = 2716;           // the window driver's window given back since it was set
                                                    // (window, control)
constexpr uint32_t kOGLImageRefused = 2713;         // an image a target cannot draw into (reason)
constexpr uint32_t kOGLModeRefused = 2714;          // a target mode other than 0, 1 and 2 (mode)
constexpr uint32_t kOGLViewSizeRefused =
    2715;  // a view larger than an image target can be made (width, height, largest side)

// OpenGL back end (voopengl, module 111): the system's own numbers, then
// 2720-2729.
constexpr uint32_t kOpenGLError = 939;          // an OpenGL error at image end (text)
constexpr uint32_t kOpenGLNoPrimitive = 941;    // the polygon path is given no primitive
constexpr uint32_t kOpenGLRecordSet = 958;      // (debug) property 322 is set (record address)
constexpr uint32_t kOpenGLNoLights = 981;       // no light list: lights left off
constexpr uint32_t kOpenGLImageRefused = 2720;  // an image refused for a texture: untextured (class, reason)
constexpr uint32_t kOpenGLNamesDropped = 2721;  // (debug) names dropped with their share group (kind, group)
constexpr uint32_t kOpenGLImageUnreadable = 2722;  // an image file gives no texture: untextured (class, file)
constexpr uint32_t kOpenGLTransformDepth = 2730;   // transforms nested past 64: subtree not drawn (depth)
constexpr uint32_t kOpenGLBackgroundNesting = 2731;  // backgrounds nested past 16: default colour (class)
constexpr uint32_t kOpenGLTooManyLights = 2732;      // lights past GL_MAX_LIGHTS left unset (count)
constexpr uint32_t kOpenGLBackgroundRefused = 2733;  // an image background refused (reason)
constexpr uint32_t kOpenGLPolygonsOneByOne = 2734;   // (debug) polygons drawn one by one (primitive)

// The desktop layer (src/host), from 2740.
constexpr uint32_t kDesktopDebugText = 2740;   // a text written to the debugger output (text)
constexpr uint32_t kDesktopMessageBox = 2741;  // a message box shown (caption, text)
constexpr uint32_t kDesktopArgument = 2742;    // a desktop procedure refuses an argument (procedure, reason)
constexpr uint32_t kDeviceArgument = 2743;  // a Direct3D-like device call refuses an argument (call, reason)
constexpr uint32_t kDeviceTrianglesDropped =
    2744;  // a draw left out triangles whose position is not finite (count)

// The Direct3D back end (vod3d, module 25651): 2750-2754.
constexpr uint32_t kD3DControlRefused = 2750;    // a control value refused (control, reason)
constexpr uint32_t kD3DImageRefused = 2751;      // an image handed in is no live image (procedure)
constexpr uint32_t kD3DPixmapShort = 2752;       // a pixmap not wholly inflated (width, height, status)
constexpr uint32_t kD3DBmpNotWritten = 2753;     // a BMP file not written (path, reason)
constexpr uint32_t kD3DListNoMemory = 2754;      // a list builder out of memory (procedure)
constexpr uint32_t kD3DSetUpFailed = 2760;       // the render window not set up (step, platform result)
constexpr uint32_t kD3DFrameFailed = 2761;       // a frame not drawn (step, platform result)
constexpr uint32_t kD3DItemRefused = 2762;       // a primitive made no item (reason)
constexpr uint32_t kD3DTextureFailed = 2763;     // a texture surface set not made (step, platform result)
constexpr uint32_t kD3DViewRefused = 2764;       // a view not turned into matrices (reason, platform result)
constexpr uint32_t kD3DBackgroundFailed = 2765;  // a background not made (step, platform result)
constexpr uint32_t kD3DOrbitPushFailed = 2766;   // the orbit could not push the view (status)
constexpr uint32_t kD3DCopyFailed = 2767;        // a copy into a bitmap failed (step, platform result)
constexpr uint32_t kD3DPolygonTooLarge =
    2768;  // a polygon of more distinct vertices than an item holds: left out (vertices, limit)
constexpr uint32_t kD3DBitmapTooLarge =
    2769;  // a bitmap or BMP file past 32-bit sizes (procedure, bytes met, limit; doubles)
constexpr uint32_t kD3DWindowOutgrown =
    2770;  // a frame refused: the client area grew past the render target (width, height, target's)
constexpr uint32_t kD3DNoView = 2771;           // a frame drawn before any view was accepted: background only
constexpr uint32_t kD3DWindowPastLimit = 2772;  // a frame refused: the client area is past the largest render
                                                // target the system allows (width, height, largest's)
constexpr uint32_t kD3DWindowGone = 2773;       // the render window's window given back since it was set
                                                // (window, control)

// Renders (any render class), 2880-2889.
constexpr uint32_t kRenderNoMemory = 2880;  // a render ran out of memory (code, renderer, status)

// An application's misuse of objects and of the library's state: 2900-2919.
constexpr uint32_t kEnvironmentDirectionRefused =
    2900;                                  // an environment sample along no finite direction (x, y, z)
constexpr uint32_t kFileNotOpened = 2901;  // VoFileClose of a stream VoFileOpen did not open (stream)
constexpr uint32_t kRenderRunning = 2902;  // a call that would free what a running render uses (procedure)
constexpr uint32_t kShaderStillHeld =
    2903;  // a destroy that would free a shader a holder still holds (procedure, shader, holder named)
constexpr uint32_t kSceneListCurrent = 2904;  // a destroy of the current primitive list (procedure, list)
constexpr uint32_t kRayStartedWhileGathering =
    2912;  // a ray-traced render started from a poll while the ray tracer gathers a scene (code)
constexpr uint32_t kRayOtherSceneInside = 2913;  // a render of another primitive list tracing or shadowing
                                                 // with the scene of the one it runs in (code)
constexpr uint32_t kSceneHeld = 2914;  // a render that sets the scene up again while the hidden-line renderer
                                       // keeps its work there (code, holder)
constexpr uint32_t kFrameHeld = 2915;  // a frame refused by a file driver or screen buffer whose frame
                                       // a render around it holds open (code, driver, holder)
constexpr uint32_t kScreenHeld = 2917;  // a hidden-line render that would move the scene's elements while a
                                        // scanline or ray-traced render around it names them (code, holder)
// A render's callbacks and its application threads (2908-2911, 2916-2919).
constexpr uint32_t kOtherThreadDuringRender =
    2908;  // a call entered on another application thread while a render runs (procedure)
constexpr uint32_t kImageWhileLightsPrepare =
    2909;  // an image begun from a callback of a light's map render while the outer image prepares its lights
constexpr uint32_t kGivenBackTwice = 2919;  // a second release of an object whose release waits for the
                                            // running render's end (procedure, object)

// A change that waited for the outermost render's end: 3000-3009.
constexpr uint32_t kWaitedCallFailed =
    3000;  // a call made when the render it waited for ended answered a failure (procedure, status)

// A render-and-post run: 2905-2907.
constexpr uint32_t kRenderAndPostNoScene =
    2905;  // its render answered a failure with no primitive list current (render code, status)
constexpr uint32_t kRenderAndPostTooDeep = 2906;  // a run nested deeper than 8, refused (depth)

// What an output target was given and did not get, with what the application
// can do: 2930-2939.
constexpr uint32_t kLinesNotDrawn = 2930;  // a line render whose driver did not draw its lines (driver, code)
constexpr uint32_t kArchiveNotWritten = 2931;  // an archive whose file is not whole (file, driver, status)

// Light arguments and view near planes, 2926-2929.
constexpr uint32_t kLightArgumentNotFinite = 2926;  // a light argument with a value that is no finite
                                                    // number (light, class, argument)
constexpr uint32_t kHitherMovedOut = 2927;  // evaluation moved a view's given hither plane farther out (view,
                                            // given, used)

// Distances and widths chosen for the application that draw nothing,
// 2940-2944.
constexpr uint32_t kAutoClipNearBeyond = 2940;  // auto clipping whose perspective hither lies beyond a
                                                // primitive (view, hither, yon, hither used, primitive)

// What a render leaves out for want of a control the application did not
// set: 2945-2949.
constexpr uint32_t kAreaLightNeedsSecondPass =
    2945;  // a listed area light left out: the second light pass is off (light)

// Counts and values an application hands in, checked before use: 2975-2984.
constexpr uint32_t kAverageCountNegative =
    2975;  // frame averaging given a negative count of frames already averaged (procedure, count)

// Objects the application hands back, from 2960.
constexpr uint32_t kObjectNotLive =
    2960;  // a handle that is no live object of the kind (procedure, handle, kind)
constexpr uint32_t kOpenGLProceduralClassInUse = 2961;  // a procedural class a primitive's record draws
                                                        // through, destroyed (class)
constexpr uint32_t kFileHeld = 2963;  // VoFileClose of a file a control holds (stream, control, holder)

// What scripts and binary command files hand the library, checked by the
// command interpreter before the call: 2970-2974.
constexpr uint32_t kScriptArgumentShort = 2970;  // an array argument, or the data behind a typed value, that
                                                 // holds less than the call reads or writes (argument,
                                                 // token, held, unit, needed)
constexpr uint32_t kScriptDataNotOwned = 2971;   // data behind a typed value at an address the script does
                                                 // not own, or held in line (argument, token, unit, needed)

// A pointer argument its parameter's rule in the interface description does
// not allow (argument, token, what it is, what the call takes), and a
// control's typed value that is no file VoFileOpen opened (argument, token,
// code).
constexpr uint32_t kScriptPointerRefused = 2972;
constexpr uint32_t kScriptStreamRefused = 2973;

}  // namespace vo::messages
