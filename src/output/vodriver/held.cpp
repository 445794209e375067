// What a render holds of the driver framework from its start to its end
// (the kernel's RenderHold): the current driver's record, which every
// operation of the render's frame goes through, and the stream of a file
// driver current as it starts. A VoDriverSet, a changed operation or a
// stream set from the render's callbacks (null among them) is the
// application's: it is in place while the callbacks run and after the
// render, and the render's frame goes on through the driver, operations
// and stream it began with.
//
// Invariants a reader must know:
// - nothing is put in place while the application changed nothing: the
//   library's own renders swap operations of the record for their time and
//   take them back after each callback, and find the record as they left it;
// - once the application changed the record, each callback is lent the
//   record as the application left it and the render's is put back after,
//   and the kernel announces changed callbacks each time, so that a module
//   that caches procedures follows;
// - a driver the application destroyed meanwhile is not put back: the
//   render's frame goes on with the application's record;
// - the render's stream is put back only when it differs from the
//   application's.

#include <cstdlib>
#include <cstring>

#include "output/vodriver/driver.h"
#include "output/vodriver/images.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {
namespace {

struct Held {
  VtDriverRecord lent;  // the render's record as it was when last lent
  VtDriverRecord *lent_current;
  VtDriverRecord application;  // the application's, once it changed it
  VtDriverRecord *application_current;
  bool application_set;
  VtDriverRecord *file_driver;  // the file driver current as the render began, or null
  void *stream;                 // its stream then
  void *application_stream;     // the stream the application set since
  bool stream_set;
};

bool SameRecord(const VtDriverRecord &a, const VtDriverRecord &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool Live(const DriverState *s, const VtDriverRecord *d) {
  if (d == nullptr) return true;
  for (const VtDriverRecord *r = s->head; r != nullptr; r = r->next)
    if (r == d) return true;
  return false;
}

void RecordPut(DriverState *s, const VtDriverRecord &record, VtDriverRecord *current) {
  std::memcpy(static_cast<void *>(s->current_pointer), &record, sizeof record);
  s->current = current;
}

void *StreamOf(VtDriverRecord *d) {
  VtTypedValue v{};
  return d->control_get(VO_CONTROL_DRIVER_FILE, &v) == 0 && v.type == VtGenericPtr ? v.value.p : nullptr;
}

void StreamPut(VtDriverRecord *d, void *stream) {
  const VtTypedValue v = TypedPointer(stream);
  (void)d->control_set(VO_CONTROL_DRIVER_FILE, &v);
}

void *Enter() {
  DriverState *s = State();
  if (s == nullptr || s->is_copy != 0 || s->current_pointer == nullptr) return nullptr;
  // From the process heap, not the library's: holding adds no failure point
  // to a render (it fails for want of memory where it always did); without
  // it the render holds nothing, as before.
  auto *h = static_cast<Held *>(std::malloc(sizeof(Held)));
  if (h == nullptr) return nullptr;
  std::memset(static_cast<void *>(h), 0, sizeof *h);
  if (s->current != nullptr && s->current->writes_file != 0 && Live(s, s->current)) {
    h->file_driver = s->current;
    h->stream = StreamOf(s->current);
  }
  return h;
}

bool Lend(void *held) {
  DriverState *s = State();
  auto *h = static_cast<Held *>(held);
  if (s == nullptr) return false;
  std::memcpy(static_cast<void *>(&h->lent), s->current_pointer, sizeof h->lent);
  h->lent_current = s->current;
  if (h->stream_set && Live(s, h->file_driver)) StreamPut(h->file_driver, h->application_stream);
  if (!h->application_set) return false;
  RecordPut(s, h->application, h->application_current);
  return true;
}

bool Take(void *held) {
  DriverState *s = State();
  auto *h = static_cast<Held *>(held);
  if (s == nullptr) return false;
  const VtDriverRecord &before = h->application_set ? h->application : h->lent;
  const VtDriverRecord *before_current = h->application_set ? h->application_current : h->lent_current;
  if (!SameRecord(*s->current_pointer, before) || s->current != before_current) {
    std::memcpy(static_cast<void *>(&h->application), s->current_pointer, sizeof h->application);
    h->application_current = s->current;
    h->application_set = true;
  }
  if (h->file_driver != nullptr && Live(s, h->file_driver)) {
    void *now = StreamOf(h->file_driver);
    if (now != (h->stream_set ? h->application_stream : h->stream)) {
      h->application_stream = now;
      h->stream_set = true;
    }
    if (h->stream_set) StreamPut(h->file_driver, h->stream);
  }
  if (!h->application_set || !Live(s, h->lent_current)) return false;
  RecordPut(s, h->lent, h->lent_current);
  return true;
}

bool Leave(void *held) {
  DriverState *s = State();
  auto *h = static_cast<Held *>(held);
  bool put = false;
  if (s != nullptr) {
    if (h->stream_set && Live(s, h->file_driver)) StreamPut(h->file_driver, h->application_stream);
    put = h->application_set && Live(s, h->application_current);
    if (put) RecordPut(s, h->application, h->application_current);
  }
  std::free(h);
  return put;
}

constexpr RenderHold kHold = {&Enter, &Lend, &Take, &Leave};

// What a render holds of the driver framework (the kernel's held set): the
// current driver, through which its frame goes; no driver given stands for
// it. An image another object's argument names is held when the image
// register knows it live.
void DriverRoots(HeldWalk *walk) {
  const DriverState *s = State();
  if (s != nullptr) HeldAdd(walk, s->current, "VtDriverRecord");
}

const void *DriverOrCurrent(const void *driver) {
  const DriverState *s = State();
  return driver != nullptr || s == nullptr ? driver : s->current;
}

constexpr HeldType kHeldDriver{"VtDriverRecord", nullptr, &DriverOrCurrent, nullptr};
constexpr HeldType kHeldImage{"VtImage", nullptr, nullptr, [](const void *image) {
                                return ImageIsLive(static_cast<const VtImage *>(image));
                              }};

}  // namespace

void RenderHoldStart() {
  RenderHoldAdd(&kHold);
  HeldRootsRegister(&DriverRoots);
  HeldTypeRegister(&kHeldDriver);
  HeldTypeRegister(&kHeldImage);
}
void RenderHoldStop() { RenderHoldRemove(&kHold); }

}  // namespace vo::driver
