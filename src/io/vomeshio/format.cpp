// Mesh files: VoMeshSave writes mesh primitives with chosen element
// properties, VoMeshLoad reads them back as new mesh primitives.
//
// A file is a header, one descriptor per property code, then per mesh its
// counts and kept codes, the primitive's values, every vertex, every edge
// and every polygon (its vertex indices up to -1, then its values). Numbers
// are 32-bit words (binary, the writer's byte order) or " %d" (text); values
// are byte runs (binary) or lower-case hexadecimal pairs (text).
//
// Values that hold pointers never travel: they go out as four zero bytes per
// element and are consumed and dropped on reading (rings come from linking).
// A save keeps the vertex indices in a side table and never writes to the
// application's elements; writer, reader and mode are as they were after
// every save and load.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "scene/vogeom/face.h"
#include "io/vomeshio/meshio.h"
#include "scene/vopoly/face.h"
#include "kernel/vosystem/face.h"

namespace vo::meshio {

namespace {

constexpr uint32_t kBaseCodes[10] = {0x106, 0x10a, 0x10b, 0x202, 0x203, 0x204, 0x206, 0x401, 0x402, 0x403};
constexpr uint32_t kDescriptorLimit = 4 * VO_PROPERTY_SLOTS + 1;
constexpr uint32_t kValuelessVertexLimit = 1u << 16;  // vertices of a mesh whose vertices carry no bytes
constexpr const char *kSaveName = "VoMeshSave";
constexpr const char *kNameCharacters = "property name characters";

VtStatus Refuse(VtStatus status, const char *procedure, const char *reason) {
  Post(status, kMeshFileRefused, VO_MODULE_MESH_IO, procedure, reason);
  return status;
}

// A count past one of the format's fixed limits: message 2802 says what was
// counted, the value met and the limit.
VtStatus RefuseLimit(VtStatus status, const char *procedure, const char *what, uint64_t value,
                     uint32_t limit) {
  const uint32_t met = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  Post(status, kMeshLimitRefused, VO_MODULE_MESH_IO, procedure, what, met, limit);
  return status;
}

// The current mode (and the swap flag) for the length of one save or load.
class ModeScope {
 public:
  ModeScope(VtMeshIOContext *s, uint32_t mode) : s_(s), mode_(s->mode), swap_(s->swap) {
    s->mode = mode;
    s->swap = 0;
  }
  ~ModeScope() {
    s_->mode = mode_;
    s_->swap = swap_;
    s_->save_state_code = 0;
  }

 private:
  VtMeshIOContext *s_;
  uint32_t mode_, swap_;
};

// One property of a save or a load.
struct Descriptor {
  uint32_t file_code;  // as the file names it
  uint32_t code;       // the registered property it is read into
  uint32_t kind;
  uint32_t type, count;
  uint32_t file_size;     // bytes of one value in the file
  uint32_t element_size;  // unit of the byte swap
  bool pointer;           // zero words out, nothing stored in
};

// ---- Writing --------------------------------------------------------------

// Bytes go to the writer in pieces of up to 64 KiB: one call a value would
// cost more than the value.
class Out {
 public:
  explicit Out(VtMeshIOContext *s) : s_(s), text_(s->mode == VO_MESH_MODE_TEXT) {}
  ~Out() { delete[] buffer_; }
  Out(const Out &) = delete;
  Out &operator=(const Out &) = delete;
  // Hands what is buffered to the writer; the status of every write.
  VtStatus Status() {
    if (status_ == 0 && used_ > 0) status_ = s_->writer(used_, buffer_);
    used_ = 0;
    return status_;
  }
  void Put(const void *bytes, uint32_t n) {
    if (status_ != 0 || n == 0) return;
    if (n > kPiece - used_) {
      (void)Status();
      if (n >= kPiece) {
        if (status_ == 0) status_ = s_->writer(n, bytes);
        return;
      }
    }
    if (buffer_ == nullptr) buffer_ = new unsigned char[kPiece];
    std::memcpy(buffer_ + used_, bytes, n);
    used_ += n;
  }
  void Int(int32_t v) {
    if (text_) {
      char b[16];
      const int n = std::snprintf(b, sizeof b, " %d", v);
      Put(b, static_cast<uint32_t>(n));
    } else {
      Put(&v, 4);
    }
  }
  void String(const char *t) {
    const auto n = static_cast<uint32_t>(std::strlen(t));
    if (text_) Put(" ", 1);
    Put(t, text_ ? n : n + 1);
    if (text_) Put(" ", 1);
  }
  void Bytes(const void *p, uint32_t n) {
    if (!text_) return Put(p, n);
    static const char kDigits[] = "0123456789abcdef";
    const auto *b = static_cast<const unsigned char *>(p);
    char hex[1024];
    while (n > 0 && status_ == 0) {
      const uint32_t part = std::min<uint32_t>(n, sizeof hex / 2);
      for (uint32_t i = 0; i < part; ++i) {
        hex[2 * i] = kDigits[b[i] >> 4];
        hex[2 * i + 1] = kDigits[b[i] & 15];
      }
      Put(hex, 2 * part);
      b += part;
      n -= part;
    }
  }
  void Zeros(uint32_t n) {
    static const unsigned char kZero[256] = {};
    while (n > 0 && status_ == 0) {
      const uint32_t part = std::min<uint32_t>(n, sizeof kZero);
      Bytes(kZero, part);
      n -= part;
    }
  }
  void Eol() {
    if (text_) Put("\n", 1);
  }
  void Value(const Descriptor &d, const void *field) {
    if (d.pointer)
      Zeros(d.file_size);
    else
      Bytes(field, d.file_size);
  }

 private:
  static constexpr uint32_t kPiece = 1u << 16;
  VtMeshIOContext *s_;
  bool text_;
  VtStatus status_ = 0;
  unsigned char *buffer_ = nullptr;
  uint32_t used_ = 0;
};

// The descriptors of a save; 0x20000012 for a code that names no
// registered property or a name a text file cannot carry.
//
// A file names a property by its registration name: the stored name and,
// for a name of the form "module:word", the code after a second colon.
VtStatus SaveDescriptors(uint32_t n, const uint32_t *codes, bool text, std::vector<Descriptor> *out,
                         std::vector<std::string> *names) {
  for (uint32_t i = 0; i < n; ++i) {
    const char *name = nullptr;
    Descriptor d{};
    uint32_t size = 0;
    const uint32_t kind = CodeKind(codes[i]);
    if (kind < VO_ELEMENT_PRIMITIVE || kind > VO_ELEMENT_VERTEX ||
        VoPropertyGetDescription(codes[i], &name, &d.type, &d.count, &size) != 0 || name == nullptr)
      return Refuse(kRefused, kSaveName, "a code names no registered property");
    std::string full = name;
    if (std::count(full.begin(), full.end(), ':') == 1) full += ":" + std::to_string(codes[i]);
    const size_t length = full.size();
    if (length > kTokenRoom) return RefuseLimit(kRefused, kSaveName, kNameCharacters, length, kTokenRoom);
    if (text && (length == 0 || full.find_first_of(" \n\r\t") != std::string::npos))
      return Refuse(kRefused, kSaveName, "a property name a text file cannot carry");
    d.file_code = d.code = codes[i];
    d.kind = kind;
    d.pointer = PointerType(d.type);
    d.file_size = codes[i] == kFlagsCode ? 4 : d.pointer ? d.count * 4 : size;
    out->push_back(d);
    names->push_back(std::move(full));
  }
  return 0;
}

// Vertex addresses to their indices in the vertex ring: open addressing
// over four times as many slots as vertices. The slot keeps the order of
// the addresses (vertices come from pools, mostly in ring order, and
// polygons name nearby vertices), so that look-ups stay in the cache.
class VertexIndex {
 public:
  explicit VertexIndex(uint32_t count) {
    size_t slots = 16;
    while (slots < 4 * static_cast<size_t>(count)) slots *= 2;
    slots_.assign(slots, Slot{nullptr, 0});
    mask_ = slots - 1;
  }
  void Add(void *address, uint32_t index) {
    size_t at = Hash(address);
    while (slots_[at].address != nullptr && slots_[at].address != address) at = (at + 1) & mask_;
    slots_[at] = Slot{address, index};
  }
  // The index, or -1 for an address that is not a vertex of the ring.
  int64_t Find(const void *address) const {
    for (size_t at = Hash(address);; at = (at + 1) & mask_) {
      if (slots_[at].address == address && address != nullptr) return slots_[at].index;
      if (slots_[at].address == nullptr) return -1;
    }
  }

 private:
  struct Slot {
    const void *address;
    uint32_t index;
  };
  size_t Hash(const void *address) const {
    const auto a = reinterpret_cast<uintptr_t>(address);
    return static_cast<size_t>(a >> 4) & mask_;
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0;
};

VtStatus MeshSave(Out &out, VtPrimitive *p, const std::vector<Descriptor> &all) {
  std::vector<uint32_t> kept;
  for (uint32_t i = 0; i < all.size(); ++i)
    if (all[i].code == kFlagsCode || (all[i].file_size > 0 && PropertyOffset(p->contents, all[i].code) >= 0))
      kept.push_back(i);
  const uint32_t vertices = RingCount(p, VO_ELEMENT_VERTEX);
  const uint32_t edges = RingCount(p, VO_ELEMENT_EDGE);
  const uint32_t polygons = RingCount(p, VO_ELEMENT_POLYGON);
  out.Int(0);
  out.Int(static_cast<int32_t>(vertices));
  out.Int(static_cast<int32_t>(edges));
  out.Int(static_cast<int32_t>(polygons));
  out.Int(static_cast<int32_t>(kept.size()));
  for (uint32_t i : kept) out.Int(static_cast<int32_t>(all[i].code));
  out.Eol();
  auto values = [&](uint32_t kind, void *element) {
    for (uint32_t i : kept) {
      const Descriptor &d = all[i];
      if (d.kind != kind) continue;
      if (d.code == kFlagsCode) {
        // The type and the bits a load keeps: a held bit such as bounds held
        // would make a loaded list save to another file.
        const uint32_t word = (p->flags & VO_PRIMITIVE_TYPE_MASK) | (p->flags & kDescriptiveFlags);
        out.Bytes(&word, 4);
      } else
        out.Value(d, PropertyField<unsigned char>(p, element, d.code));
    }
  };
  values(VO_ELEMENT_PRIMITIVE, nullptr);
  // The vertex indices, looked up by address.
  VertexIndex index(vertices);
  uint32_t next = 0;
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) {
    index.Add(v, next++);
    values(VO_ELEMENT_VERTEX, v);
  });
  if (edges > 0) ForEachElement(p, VO_ELEMENT_EDGE, [&](void *e) { values(VO_ELEMENT_EDGE, e); });
  bool stray = false;
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) {
    VtReference **ring = PropertyField<VtReference *>(p, q, VO_POLY_VREFS);
    ForEachNode(ring ? *ring : nullptr, [&](VtReference *node) {
      const int64_t at = index.Find(node->data);
      if (at < 0) {
        stray = true;
        return;
      }
      out.Int(static_cast<int32_t>(at));
    });
    out.Int(-1);
    out.Eol();
    values(VO_ELEMENT_POLYGON, q);
  });
  if (stray) return Refuse(kFailed, kSaveName, "a polygon names a vertex not on the mesh's vertex ring");
  return out.Status();
}

VtStatus Save(VtMeshIOContext *s, VtReference *list, uint32_t n, const uint32_t *codes) {
  std::vector<Descriptor> all;
  std::vector<std::string> names;
  if (VtStatus st = SaveDescriptors(n, codes, s->write_mode == VO_MESH_MODE_TEXT, &all, &names)) return st;
  std::vector<VtPrimitive *> meshes;
  ForEachNode(list, [&](VtReference *node) {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (PrimitiveLive(p) && PrimitiveType(p) == VO_PRIMITIVE_MESH) meshes.push_back(p);
  });
  if (meshes.empty()) return 0;
  const ModeScope mode(s, s->write_mode);
  Out out(s);
  uint32_t name_block = 0;
  for (const std::string &name : names) name_block += 16 + static_cast<uint32_t>(name.size()) + 1;
  out.Put(s->mode == VO_MESH_MODE_TEXT ? "VXMA" : "VXMB", 4);
  for (uint32_t w : {2u, 4u, 4u, n, static_cast<uint32_t>(meshes.size()), name_block, 0u})
    out.Int(static_cast<int32_t>(w));
  for (uint32_t i = 0; i < all.size(); ++i) {
    out.Int(static_cast<int32_t>(all[i].code));
    out.String(names[i].c_str());
    out.Int(static_cast<int32_t>(all[i].type));
    out.Int(static_cast<int32_t>(all[i].count));
    out.Int(static_cast<int32_t>(all[i].code == kFlagsCode ? 0 : all[i].file_size));
    out.Eol();
  }
  if (out.Status() != 0) return out.Status();
  for (VtPrimitive *p : meshes)
    if (VtStatus st = MeshSave(out, p, all)) return st;
  return 0;
}

// ---- Reading --------------------------------------------------------------

// Where a load's refusal says the fault is: the line of a text file the
// default reader serves; else the byte of a binary file or the token of a
// text file through an application's reader, counted from the load's start.
struct Place {
  const char *unit;
  uint32_t number;
};

class In {
 public:
  explicit In(VtMeshIOContext *s) : s_(s) {
    s->lines = 0;
    s->token_line = 1;
  }
  bool Text() const { return s_->mode == VO_MESH_MODE_TEXT; }
  // The place of the item read last; Mark makes the next item read the
  // place Marked answers (the start of a descriptor or of a mesh).
  Place Last() const { return last_; }
  void Mark() { mark_ = true; }
  Place Marked() const { return marked_; }
  // Whether a refusal was posted, so that a load failing without one says
  // why once.
  bool Said() const { return said_; }
  // Refusals of the file, posted with the error class: a refused file shows
  // under any mask that shows errors. The load's own status stays 2.
  VtStatus Refuse(Place at, const char *reason) {
    const char *unit = at.unit;
    const uint32_t place = at.number;
    Post(VO_CLASS_ERROR | kFailed, kMeshLoadRefused, VO_MODULE_MESH_IO, unit, place, reason);
    said_ = true;
    return kFailed;
  }
  VtStatus RefuseLimit(Place at, const char *what, uint64_t value, uint32_t limit) {
    const char *unit = at.unit;
    const uint32_t place = at.number;
    const uint32_t met = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
    Post(VO_CLASS_ERROR | kFailed, kMeshLoadLimit, VO_MODULE_MESH_IO, unit, place, what, met, limit);
    said_ = true;
    return kFailed;
  }
  VtStatus Raw(void *buffer, uint32_t n) {
    if (n == 0) return 0;
    uint32_t count = n;
    const VtStatus st = s_->reader(&count, buffer);
    if (st == 0) taken_ += n;
    return st == 0 ? 0 : st == VO_STATUS_NO_MEMORY ? st : kFailed;
  }
  // Bytes the byte reader delivered (text tokens without their blanks).
  uint64_t Taken() const { return taken_; }
  // A token of at most limit characters; what names them in a refusal.
  VtStatus Token(char *room, uint32_t limit, const char *what) {
    uint32_t count = 0;
    const VtStatus st = s_->reader(&count, room);
    Started(TextPlace(s_->token_line));
    if (st == VO_STATUS_NO_MEMORY) return st;
    if (st == 0) taken_ += count;
    if (count > limit) return RefuseLimit(last_, what, count, limit);
    return st != 0 || count == 0 || room[count] != 0 ? kFailed : 0;
  }
  VtStatus Int(int32_t *v) {
    if (!Text()) {
      uint32_t w;
      Started(BytePlace());
      if (VtStatus st = Raw(&w, 4)) return st;
      if (s_->swap) w = __builtin_bswap32(w);
      std::memcpy(v, &w, 4);
      return 0;
    }
    char room[kTokenRoom + 1];
    if (VtStatus st = Token(room, kNumberRoom, "number characters")) return st;
    char *end = nullptr;
    errno = 0;
    const long x = std::strtol(room, &end, 10);
    if (end == room || *end != 0 || errno != 0 || x < INT32_MIN || x > INT32_MAX) {
      const std::string reason = "\"" + std::string(room) + "\" is not a 32-bit decimal number";
      return Refuse(last_, reason.c_str());
    }
    *v = static_cast<int32_t>(x);
    return 0;
  }
  // Binary strings are read to their zero; one that has none within its
  // room is refused at the first character past it.
  VtStatus String(char *room) {
    if (Text()) return Token(room, kTokenRoom, kNameCharacters);
    Started(BytePlace());
    for (uint32_t n = 0;; ++n) {
      if (n > kTokenRoom) return RefuseLimit(last_, kNameCharacters, n, kTokenRoom);
      if (VtStatus st = Raw(room + n, 1)) return st;
      if (room[n] == 0) return 0;
    }
  }
  // A byte run of n bytes into out (null: read and dropped), its elements of
  // the given size swapped when the file has the other byte order.
  VtStatus Bytes(void *out, uint32_t n, uint32_t element_size) {
    auto *b = static_cast<unsigned char *>(out);
    if (!Text()) {
      Started(BytePlace());
      if (b == nullptr) return Drop(n);
      if (VtStatus st = Raw(b, n)) return st;
      if (s_->swap && element_size > 1)
        for (uint32_t at = 0; at + element_size <= n; at += element_size)
          std::reverse(b + at, b + at + element_size);
      return 0;
    }
    if (n == 0) return 0;
    // Blanks in front of the run (an end of line) are passed over.
    char first;
    do {
      if (VtStatus st = Raw(&first, 1)) return st;
    } while (first == ' ' || first == '\n' || first == '\r' || first == '\t');
    Started(TextPlace(s_->lines + 1));
    char hex[1024];
    hex[0] = first;
    uint32_t done = 0, have = 1;
    while (done < n) {
      const uint32_t part = std::min<uint32_t>(n - done, sizeof hex / 2);
      if (VtStatus st = Raw(hex + have, 2 * part - have)) return st;
      if (b != nullptr)
        for (uint32_t i = 0; i < part; ++i)
          b[done + i] = static_cast<unsigned char>(Digit(hex[2 * i]) << 4 | Digit(hex[2 * i + 1]));
      done += part;
      have = 0;
    }
    return 0;
  }
  VtStatus Value(const Descriptor &d, unsigned char *field) {
    return Bytes(d.pointer ? nullptr : field, d.file_size, d.element_size);
  }

 private:
  static int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  }
  VtStatus Drop(uint32_t n) {
    unsigned char scratch[1024];
    while (n > 0) {
      const uint32_t part = std::min<uint32_t>(n, sizeof scratch);
      if (VtStatus st = Raw(scratch, part)) return st;
      n -= part;
    }
    return 0;
  }
  void Started(Place at) {
    last_ = at;
    if (mark_) marked_ = at;
    mark_ = false;
  }
  Place BytePlace() const {
    return {"byte", taken_ > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(taken_)};
  }
  Place TextPlace(uint32_t line) {
    ++tokens_;
    return s_->reader == &DefaultRead ? Place{"line", line} : Place{"token", tokens_};
  }
  VtMeshIOContext *s_;
  uint64_t taken_ = 0;
  uint32_t tokens_ = 0;
  Place last_{"byte", 0}, marked_{"byte", 0};
  bool mark_ = false, said_ = false;
};

// A descriptor of the file checked against the registered property of its
// code (or of code + 50).
VtStatus DescriptorRead(In &in, VtMeshIOContext *s, Descriptor *d) {
  int32_t code, type, count, size;
  char name[kTokenRoom + 1];
  in.Mark();
  VtStatus st = in.Int(&code);
  if (st == 0) st = in.String(name);
  if (st == 0) st = in.Int(&type);
  if (st == 0) st = in.Int(&count);
  if (st == 0) st = in.Int(&size);
  if (st != 0) return st;
  if (count < 0 || size < 0)
    return in.Refuse(in.Marked(), "a property descriptor with a negative count or size");
  d->file_code = static_cast<uint32_t>(code);
  d->type = static_cast<uint32_t>(type);
  d->count = static_cast<uint32_t>(count);
  d->file_size = static_cast<uint32_t>(size);
  if (d->file_code == kFlagsCode) {
    d->code = kFlagsCode;
    d->kind = VO_ELEMENT_PRIMITIVE;
    d->file_size = 4;
    d->element_size = 4;
    return 0;
  }
  // The registration name's number (the code it was registered under) is
  // not compared: an older file's code may have moved.
  if (char *second = std::strchr(name, ':') ? std::strchr(std::strchr(name, ':') + 1, ':') : nullptr)
    if (second[1] != 0 && std::strspn(second + 1, "0123456789") == std::strlen(second + 1)) *second = 0;
  const bool save_state = std::strcmp(name, "voradios:save_state") == 0;
  uint32_t candidates[2] = {save_state ? kSaveStateCode : d->file_code, d->file_code + 50};
  for (uint32_t c : candidates) {
    const char *registered = nullptr;
    uint32_t type = 0, most = 0, size = 0;
    if (!CodeValid(c) || CodeKind(c) < VO_ELEMENT_PRIMITIVE ||
        VoPropertyGetDescription(c, &registered, &type, &most, &size) != 0)
      continue;
    if (registered == nullptr || std::strcmp(registered, name) != 0 || type != d->type) continue;
    d->pointer = PointerType(d->type);
    if (d->count > most || d->file_size > (d->pointer ? most * 4u : size)) continue;
    if (d->pointer && d->file_size != d->count * 4) continue;
    d->code = c;
    d->kind = CodeKind(c);
    d->element_size = (c == kSaveStateCode || c == 0x21a) ? 4
                      : most > 0 && size % most == 0      ? size / most
                                                          : 1;
    if (save_state) s->save_state_code = d->file_code;
    return 0;
  }
  // The name as the file gives it, so that a misspelling shows.
  const std::string reason = "property descriptor " + std::to_string(d->file_code) + " \"" + name +
                             "\" names no registered property of that name, value type and size";
  return in.Refuse(in.Marked(), reason.c_str());
}

VtStatus HeaderRead(In &in, VtMeshIOContext *s, int32_t *n, int32_t *meshes, bool *empty) {
  char magic[4];
  if (VtStatus st = in.Raw(magic, 4)) return st;
  if (std::memcmp(magic, "VXM", 3) != 0) {
    *empty = true;
    return in.Refuse(Place{"byte", 0}, "it begins with neither VXMA (text) nor VXMB (binary): no mesh file");
  }
  if (magic[3] == 'A')
    s->mode = VO_MESH_MODE_TEXT;
  else if (magic[3] != 'B')
    return in.Refuse(Place{"byte", 3}, "its fourth byte is neither A (text) nor B (binary)");
  // Each word is read and checked in turn, so that a refusal names its place.
  int32_t w[7];
  Place at[7];
  for (int i = 0; i < 7; ++i) {
    if (VtStatus st = in.Int(&w[i])) return st;
    at[i] = in.Last();
    if (i == 0 && !in.Text()) {
      const auto version = static_cast<uint32_t>(w[0]);
      if (version == 0 || version >= 10) {
        s->swap = 1;
        w[0] = static_cast<int32_t>(__builtin_bswap32(version));
      }
    }
    if (i == 0 && (w[0] > 2 || w[0] < 0)) {
      const std::string reason =
          "its format version " + std::to_string(w[0]) + " is not one this library reads (0 to 2)";
      return in.Refuse(at[0], reason.c_str());
    }
    if (i == 1 && w[1] != 4) return in.Refuse(at[1], "the header's second word is not 4");
  }
  if (w[3] < 0) return in.Refuse(at[3], "a negative count of property descriptors");
  if (w[4] < 0) return in.Refuse(at[4], "a negative count of meshes");
  if (static_cast<uint32_t>(w[3]) > kDescriptorLimit)
    return in.RefuseLimit(at[3], "property descriptors", static_cast<uint32_t>(w[3]), kDescriptorLimit);
  *n = w[3];
  *meshes = w[4];
  return 0;
}

struct Loader {
  VtMeshIOContext *s;
  In &in;
  const std::vector<Descriptor> &all;
  int32_t mesh;  // the mesh being read, from 1, for refusals
};

// Frees a boundary ring that was not hung on its polygon.
struct RingHolder {
  VtReference *ring = nullptr;
  ~RingHolder() { VoReferenceListDestroy(ring, nullptr); }
};

// Reads one mesh; *made gets the primitive as soon as it exists (the
// caller destroys it on a failure).
// A mesh whose vertex position is infinite or not a number is refused
// whole, as the creation procedures refuse one: nothing can draw it.
bool PositionFinite(VtPrimitive *p, void *vertex) {
  if (PropertyOffset(p->contents, VO_VERT_WORLD) < 0) return true;
  const float *xyz = PropertyField<float>(p, vertex, VO_VERT_WORLD);
  return std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]);
}

VtStatus MeshRead(Loader &l, VtPrimitive **made) {
  int32_t counts[5];
  Place at[5];
  for (int i = 0; i < 5; ++i) {
    if (VtStatus st = l.in.Int(&counts[i])) return st;
    at[i] = l.in.Last();
  }
  const int32_t vertices = counts[1], edges = counts[2], polygons = counts[3], k = counts[4];
  const std::string mesh = "mesh " + std::to_string(l.mesh) + " ";
  static constexpr const char *kCounted[4] = {nullptr, "vertices", "edges", "polygons"};
  for (int i = 1; i < 4; ++i) {
    if (counts[i] < 0) return l.in.Refuse(at[i], (mesh + "has a negative count of " + kCounted[i]).c_str());
    if (static_cast<uint32_t>(counts[i]) >= kCountLimit)
      return l.in.RefuseLimit(at[i], kCounted[i], static_cast<uint32_t>(counts[i]), kCountLimit - 1);
  }
  if (k < 0 || static_cast<size_t>(k) > l.all.size()) {
    const std::string reason = mesh + "keeps " + std::to_string(k) + " property codes; the file describes " +
                               std::to_string(l.all.size());
    return l.in.Refuse(at[4], reason.c_str());
  }
  std::vector<const Descriptor *> kept;
  std::vector<uint32_t> codes(kBaseCodes, kBaseCodes + 10);
  uint32_t vertex_bytes = 0, edge_bytes = 0;
  for (int32_t i = 0; i < k; ++i) {
    int32_t code;
    if (VtStatus st = l.in.Int(&code)) return st;
    const Descriptor *d = nullptr;
    for (const Descriptor &x : l.all)
      if (x.file_code == static_cast<uint32_t>(code)) d = &x;
    if (d == nullptr)
      for (const Descriptor &x : l.all)
        if (x.file_code == static_cast<uint32_t>(code) + 50) d = &x;
    if (d == nullptr) {
      const std::string reason =
          mesh + "keeps property code " + std::to_string(code) + ", which no descriptor describes";
      return l.in.Refuse(l.in.Last(), reason.c_str());
    }
    kept.push_back(d);
    if (d->code != kFlagsCode) codes.push_back(d->code);
    if (d->kind == VO_ELEMENT_VERTEX) vertex_bytes += d->file_size;
    if (d->kind == VO_ELEMENT_EDGE) edge_bytes += d->file_size;
  }
  if (vertex_bytes == 0 && static_cast<uint32_t>(vertices) > kValuelessVertexLimit)
    return l.in.RefuseLimit(at[1], "vertices without values", static_cast<uint32_t>(vertices),
                            kValuelessVertexLimit);
  if (l.s->base == nullptr && (l.s->base = VoContentsCreate(10, kBaseCodes)) == nullptr)
    return VO_STATUS_NO_MEMORY;
  VtContents *contents = VoContentsUnion(l.s->base, static_cast<uint32_t>(codes.size()), codes.data());
  VtPrimitive *p = contents ? VoPrimitiveCreate(contents, VO_PRIMITIVE_MESH) : nullptr;
  if (p == nullptr) return VO_STATUS_NO_MEMORY;
  *made = p;
  auto values = [&](uint32_t kind, void *element) -> VtStatus {
    for (const Descriptor *d : kept) {
      if (d->kind != kind) continue;
      if (d->code == kFlagsCode) {
        uint32_t word;
        if (VtStatus st = l.in.Bytes(&word, 4, 4)) return st;
        p->flags = VO_PRIMITIVE_MESH | (word & kDescriptiveFlags);
        continue;
      }
      if (VtStatus st = l.in.Value(*d, element ? PropertyField<unsigned char>(p, element, d->code) : nullptr))
        return st;
    }
    return 0;
  };
  if (VtStatus st = values(VO_ELEMENT_PRIMITIVE, p->data)) return st;
  std::vector<void *> table;
  poly::VertexRing vertex_ring(p);
  for (int32_t i = 0; i < vertices; ++i) {
    void *v = VoVertexCreate(p);
    if (v == nullptr) return VO_STATUS_NO_MEMORY;
    vertex_ring.Add(v);
    table.push_back(v);
    if (VtStatus st = values(VO_ELEMENT_VERTEX, v)) return st;
    if (!PositionFinite(p, v))
      return l.in.Refuse(l.in.Last(),
                         (mesh + "has a vertex position that is infinite or not a number").c_str());
  }
  // The edge section is read and dropped: edges come from the polygons.
  for (int32_t i = 0; i < edges && edge_bytes > 0; ++i)
    if (VtStatus st = values(VO_ELEMENT_EDGE, nullptr)) return st;
  const poly::PolygonFinisher finisher(p);
  poly::VertexRing polygon_ring(p, VO_ELEMENT_POLYGON);
  for (int32_t j = 0; j < polygons; ++j) {
    void *q = VoPolygonCreate(p);
    if (q == nullptr) return VO_STATUS_NO_MEMORY;
    polygon_ring.Add(q);
    RingHolder boundary;
    for (;;) {
      int32_t index;
      if (VtStatus st = l.in.Int(&index)) return st;
      if (index == -1) break;
      if (index < 0 || index >= vertices) {
        const std::string reason = mesh + "polygon " + std::to_string(j + 1) + " names vertex index " +
                                   std::to_string(index) + "; the mesh's vertices are 0 to " +
                                   std::to_string(vertices - 1) + " (-1 ends a polygon)";
        return l.in.Refuse(l.in.Last(), reason.c_str());
      }
      VtReference *node = VoPrimitiveReferenceCreate(table[static_cast<size_t>(index)]);
      if (node == nullptr) return VO_STATUS_NO_MEMORY;
      boundary.ring = VoPrimitiveReferenceAppend(boundary.ring, node);
    }
    if (VtStatus st = values(VO_ELEMENT_POLYGON, q)) return st;
    // The boundary, its count and plane are hung on after the values, so a
    // file's count never disagrees with the ring; a degenerate polygon keeps
    // its boundary.
    (void)finisher.Finish(q, boundary.ring);
    boundary.ring = nullptr;
  }
  // Every polygon's plane was made when its boundary was hung on, after its
  // values: no second pass over the polygons.
  poly::PrimitiveCountsReset(p);
  (void)VoPrimitiveResetProperty(p, VO_PRIM_BOUNDS);
  ForEachElement(p, VO_ELEMENT_POLYGON, [&](void *q) { finisher.Measure(q); });
  return 0;
}

VtPrimitive *MeshLoad(Loader &l) {
  VtPrimitive *p = nullptr;
  VtStatus st;
  try {
    st = MeshRead(l, &p);
  } catch (const std::bad_alloc &) {
    st = VO_STATUS_NO_MEMORY;
  }
  if (st == 0) return p;
  if (p != nullptr) VoPrimitiveDestroy(p);
  return nullptr;
}

VtReference *Load(VtMeshIOContext *s) {
  const ModeScope mode(s, VO_MESH_MODE_BINARY);
  In in(s);
  int32_t n = 0, meshes = 0;
  bool empty = false;
  std::vector<Descriptor> all;
  VtStatus st = HeaderRead(in, s, &n, &meshes, &empty);
  if (st == 0 && !empty) {
    all.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < all.size() && st == 0; ++i) st = DescriptorRead(in, s, &all[i]);
  }
  if (st != 0 || empty) {
    // A short file or a failing reader is said too: a refused load is never
    // silent.
    if (st != VO_STATUS_NO_MEMORY && !in.Said())
      (void)in.Refuse(in.Last(),
                      "the file ends, or its reader fails, before the header and the property "
                      "descriptors are whole");
    return nullptr;
  }
  Loader l{s, in, all, 0};
  VtReference *list = nullptr;
  int32_t loaded = 0;
  for (; loaded < meshes; ++loaded) {
    l.mesh = loaded + 1;
    VtPrimitive *p = MeshLoad(l);
    if (p == nullptr) break;
    VtReference *node = VoPrimitiveReferenceCreate(p);
    if (node == nullptr) {
      VoPrimitiveDestroy(p);
      break;
    }
    list = VoPrimitiveReferenceAppend(list, node);
  }
  // The meshes before a failure are the result; a shorter list than the
  // header promised is said once, so a cut file never passes for a whole one.
  if (loaded < meshes)
    Post(VO_CLASS_WARNING, kMeshLoadCut, VO_MODULE_MESH_IO, static_cast<uint32_t>(in.Taken()),
         static_cast<uint32_t>(loaded), static_cast<uint32_t>(meshes));
  return list;
}

}  // namespace

}  // namespace vo::meshio

namespace vo {

VtStatus VoMeshSave(VtReference *list, uint32_t count, const uint32_t *codes) {
  VtMeshIOContext *s = meshio::State();
  if (s == nullptr) return meshio::kFailed;
  if (list == nullptr) return 0;
  if (count == 0 || codes == nullptr) {
    Post(meshio::kRefused, meshio::kMeshSaveNoCodes, VO_MODULE_MESH_IO);
    return meshio::kRefused;
  }
  if (!RingAccepted(list, "VoMeshSave")) return meshio::kRefused;
  try {
    return meshio::Save(s, list, count, codes);
  } catch (const std::bad_alloc &) {
    return VO_STATUS_NO_MEMORY;
  }
}

VtReference *VoMeshLoad() {
  VtMeshIOContext *s = meshio::State();
  if (s == nullptr) return nullptr;
  try {
    return meshio::Load(s);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

}  // namespace vo
