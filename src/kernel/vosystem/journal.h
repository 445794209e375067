// The journal: a script of the exported calls an application makes, in the
// text form the command interpreter reads back.
//
// A journal starts with a header, written when journaling is switched on
// while a journal file is set, or when the journal file is replaced while
// journaling is on:
//
//   # Journal file generated: Sun Dec  6 17:38:00 2026
//   # Zizizizo version: mrvx20 kernel and module system
//   # VO_CODE = sod_
//   ADV = VoDataCreate
//
// Then one statement for every exported call made from outside the library:
//
//   VoName arg arg ...        a call
//   h3 = VoName arg ...       a call whose result is a handle (h) or another
//                             address (p), kept in a new variable
//   VtTypedValue o4           declares the variable an output parameter is
//   VoControlGet 0x10004 o4   bound to, on the line before the call
//   VtFloat[3] o5             an output array: an array variable of its count
//   VtTypedValue o6           an in-out parameter: a variable assigned its
//   o6 = {VtFloat 0}          input first
//   VtFloat[24] d7            data behind a VtGenericPtr typed value that no
//   d7 = [0 0 0 ...]          call answered, sized by the procedure's shape,
//   VoName ... {VtGenericPtr &d7}   declared and filled before the call
//   # VoName arg ...          a call that cannot be replayed (below)
//   # VoJournalControlSet 0x10005 {VtGenericPtr h7}
//                             the journal goes on in the file of h7 (written
//                             when the journal file is replaced while on and
//                             this journal named the new one): a replay does
//                             not open that file, so it cannot empty it
//
// Variables are numbered from 1 in each journal (h, p, o and d share the
// counter); ADV holds the address VoDataCreate answers, and calls of
// VoDataCreate are not written, so that a journalled replay writes the same
// journal.
//
// Arguments:
//   VtInt32, VtEnum          %d
//   VtNat32, VtNat8          %u; naturals from 65536 on as 0x%x (codes)
//   VtBoolean                its word, %u (0 or 1 as a rule)
//   VtFlags, VtStatus        0x%x
//   VtFloat / VtDouble       %.9g / %.17g, which read back to the same
//                            value; infinities as 1e999 and -1e999
//   VtString                 in double quotes; \" \\ \n \r \t escapes and
//                            \xHH for other control bytes; NULL for null
//   colours, vectors,        bracket lists of their numbers, [1 0.5 0];
//   points, bounds           VtComplex [re im]
//   arrays                   bracket lists of their elements, written in
//                            full: a fixed count, another parameter (times a
//                            number, "n*3"), or the procedure's shape; arrays
//                            of typed values as lists of typed values
//   typed values             {TypeName value} with the value in the form of
//                            its type: {VtNat32 3}, {VtFlags 0x1},
//                            {VtString "a"}, {VtGenericPtr p2}, {VtVoid};
//                            colours, points, bounds and the other records
//                            in full from the value field:
//                            {VtColour [0.25 0.5 1]}, {VtBounds [0 1 0 1 0 1]}.
//                            A reader matching the closing brace skips
//                            quoted text.
//   handles and addresses    the variable that received them; NULL for null
//   procedures               an exported procedure by its name
//                            (VoCallBackSet 0x10000 VoErrorHandlerDefault)
//
// A call is written as a "#" comment instead when one of its arguments cannot
// be written back: an application's own procedure, a raw data block, an
// array no count or shape sizes, a NaN, a typed value of a type without a
// textual form, or an address that no earlier journalled call of this
// journal answered and no shape sizes (shown as <procedure %p>, <data %p>,
// %p, ...). Its result and outputs are then not kept in variables, so later
// calls that use them become comments too. An application's own files and
// procedures cannot be named: a journal that should replay opens its files
// with VoFileOpen.
//
// Lines are cut only between tokens, with a blank, a backslash and a newline,
// before they reach 198 characters; a token longer than that stands whole on
// a line of its own.
//
// Not journalled: calls made from inside a library call (only the outermost
// call is written), the journal's own procedures (VoJournal...), and the call
// that switches journaling on. A call whose bracket is released with
// VoJournalCallEnd while it runs (the command interpreter does so around each
// statement) is not written itself: the calls made inside it are. A call
// without arguments that stops the kernel (VoTerminate) is written as the
// kernel stops.
#pragma once

#include <string>
#include <vector>

#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel.h"

namespace vo {

// Journal output, callback 0x10001: writes the text to the journal file and
// flushes it.
VtStatus JournalOutputDefault(const char *text);

// The journal buffers: made by the system module's start (status 6 when out
// of memory), freed by its terminate (which first writes a kernel-stopping
// call still open, and any text left in the line).
VtStatus JournalStart(VtKernelContext *k);
void JournalStop(VtKernelContext *k);

// The statements one call is written as, in order; the last one is the call.
// Names the call's handle results and outputs as a journalled call does.
std::vector<std::string> JournalCallLines(const api::VtApiFunction *fn, const void *const *argv,
                                          const void *result);

}  // namespace vo
