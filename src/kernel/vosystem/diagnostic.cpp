// Diagnostics: the pending record, posting, the default error handler with
// its message-file and fallback formats, and the choice of output channel.
//
// One post at a time fills the pending record, from Begin to End, whatever
// thread posts: a second application thread's refusal (2908) is posted
// while the render thread posts its own, and the kernel's lock is taken
// only while thread records exist. A process-wide recursive mutex is held
// from Begin to End (a handler's own posts take it again on its thread).

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/registry.h"

namespace vo {

namespace {

constexpr size_t kOutputLimit = kMessageLine - 2;  // characters before the line's newline

std::recursive_mutex &PostMutex() {
  static std::recursive_mutex m;
  return m;
}
// How often the calling thread holds PostMutex for a post not yet ended.
constinit thread_local uint32_t t_post_held = 0;
constexpr size_t kStringPiece = 508;  // fallback line: longest quoted piece

char *LineBuffer(VtKernelContext *k) { return k->messages.text; }
char *OutputBuffer(VtKernelContext *k) { return k->messages.text + kMessageLine; }

VtStatus WriteOut(const char *text) {
  VtKernelContext *k = Kernel();
  return (k != nullptr && k->messages.output != nullptr) ? k->messages.output(text) : 0;
}

// The driver framework's message channel, or null while it has none.
MessageOutputProc DriverChannel() {
  return reinterpret_cast<MessageOutputProc>(VoCallBackGet(VO_CALLBACK_DRIVER_MESSAGE));
}

// Reads one whole line of the message file into the line buffer; the part of
// a line beyond the buffer is passed over, never read as a line of its own.
bool ReadLine(std::FILE *f, char *buf, size_t size) {
  if (std::fgets(buf, static_cast<int>(size), f) == nullptr) return false;
  size_t len = std::strlen(buf);
  if (len > 0 && buf[len - 1] != '\n' && !std::feof(f)) {
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') {
    }
  }
  return true;
}

void KeptFree(MessageState &m) {
  for (char *&t : m.kept) {
    VoDeallocate(t);
    t = nullptr;
  }
}

// Validates a newly set message file: messages 1, 2, 3 and 5 must be in it.
void MessageFileValidate(VtKernelContext *k) {
  MessageState &m = k->messages;
  m.file_changed = 0;
  KeptFree(m);
  m.file_usable = m.message_file != nullptr;
  if (!m.file_usable) return;
  const uint32_t wanted[4] = {1, 2, 3, 5};
  for (int i = 0; i < 4; ++i) {
    const char *t = VoMessageFileLookup(wanted[i]);
    if (t == nullptr) {
      m.file_usable = 0;
      continue;
    }
    m.kept[i] = TextCopy(t);
  }
}

// ---- Conversion of one argument by its recorded type ---------------------

enum class Num { None, Signed, Unsigned, Real, Pointer, String };

struct ArgValue {
  Num kind = Num::None;
  long long s = 0;
  unsigned long long u = 0;
  double d = 0;
  const void *p = nullptr;
  const char *str = nullptr;
};

ArgValue ReadArg(const VtTypedValue &v) {
  switch (v.type) {
    case VtInt32:
    case VtEnum: return {.kind = Num::Signed, .s = v.value.i};
    case VtNat32:
    case VtBoolean:
    case VtStatusType:
    case VtFlags: return {.kind = Num::Unsigned, .u = v.value.u};
    case VtFloat: return {.kind = Num::Real, .d = v.value.f};
    case VtDouble: return {.kind = Num::Real, .d = v.value.d};
    case VtString: return {.kind = Num::String, .str = v.value.s};
    case VtGenericPtr:
    case VtHandle:
    case VtFunc: return {.kind = Num::Pointer, .p = v.value.p};
    default: return {};
  }
}

// An integer style of a real value: truncated toward zero, saturated.
long long RealToInteger(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9.2e18) return INT64_MAX;
  if (d <= -9.2e18) return INT64_MIN;
  return static_cast<long long>(d);
}

// Formats one argument for the conversion letter; false when the letter is
// not a conversion (nothing is written, the argument is still consumed).
bool FormatDirective(char letter, const ArgValue &a, std::string *out) {
  char buf[64];
  switch (letter) {
    case 'd':
    case 'u':
    case 'x': {
      if (a.kind == Num::String || a.kind == Num::None) {
        *out = "?";
        return true;
      }
      if (a.kind == Num::Pointer) {
        uintptr_t p = reinterpret_cast<uintptr_t>(a.p);
        std::snprintf(buf, sizeof buf, letter == 'x' ? "%" PRIxPTR : "%" PRIuPTR, p);
        *out = buf;
        return true;
      }
      long long sv = a.kind == Num::Signed     ? a.s
                     : a.kind == Num::Unsigned ? static_cast<long long>(a.u)
                                               : RealToInteger(a.d);
      if (letter == 'd')
        std::snprintf(buf, sizeof buf, "%lld", sv);
      else if (letter == 'u')
        std::snprintf(buf, sizeof buf, "%llu",
                      a.kind == Num::Unsigned ? a.u : static_cast<unsigned long long>(sv));
      else
        std::snprintf(buf, sizeof buf, "%llx",
                      a.kind == Num::Unsigned ? a.u
                                              : static_cast<unsigned long long>(sv) &
                                                    (a.kind == Num::Signed ? 0xFFFFFFFFull : ~0ull));
      *out = buf;
      return true;
    }
    case 'f':
    case 'g': {
      if (a.kind != Num::Signed && a.kind != Num::Unsigned && a.kind != Num::Real) {
        *out = "?";
        return true;
      }
      double d = a.kind == Num::Signed     ? static_cast<double>(a.s)
                 : a.kind == Num::Unsigned ? static_cast<double>(a.u)
                                           : a.d;
      if (letter == 'f')
        std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(static_cast<float>(d)));
      else
        std::snprintf(buf, sizeof buf, "%.15g", d);
      *out = buf;
      return true;
    }
    case 'p':
      if (a.kind != Num::Pointer) {
        *out = "?";
        return true;
      }
      std::snprintf(buf, sizeof buf, "%p", a.p);
      *out = buf;
      return true;
    case 's':
      if (a.kind != Num::String)
        *out = "?";
      else
        *out = a.str ? a.str : "<null string>";
      return true;
    default: return false;
  }
}

// Formats a message text with its arguments into at most kOutputLimit
// characters.
std::string FormatMessage(uint32_t message, const char *text, uint32_t count, const VtTypedValue *args) {
  std::string out;
  char num[32];
  std::snprintf(num, sizeof num, "%04u: ", message);
  out = num;
  bool truncated = false;
  auto put = [&](const std::string &piece) {
    if (out.size() + piece.size() > kOutputLimit) {
      truncated = true;
      return false;
    }
    out += piece;
    return true;
  };
  uint32_t next = 0;
  const char *p = text;
  while (*p && !truncated) {
    char c = *p++;
    if (c == '\\') {
      if (*p == 0) break;
      char e = *p++;
      char r = 0;
      switch (e) {
        case '"': r = '"'; break;
        case '\'': r = '\''; break;
        case '?': r = '?'; break;
        case '\\': r = '\\'; break;
        case 'b': r = '\b'; break;
        case 'f': r = '\f'; break;
        case 'n': r = '\n'; break;
        case 'r': r = '\r'; break;
        case 't': r = '\t'; break;
        case 'v': r = '\v'; break;
        default: break;
      }
      if (r) put(std::string(1, r));
      continue;
    }
    if (c == '%') {
      if (next >= count) {
        put("?");
        if (*p) ++p;
        continue;
      }
      bool zero = false;
      if (*p == '0') {
        zero = true;
        ++p;
      }
      size_t width = 0;
      while (*p >= '0' && *p <= '9') {
        width = width * 10 + static_cast<size_t>(*p - '0');
        if (width > kOutputLimit) width = kOutputLimit;
        ++p;
      }
      char letter = *p;
      if (letter) ++p;
      ArgValue a = ReadArg(args[next++]);
      std::string field;
      if (!FormatDirective(letter, a, &field)) continue;
      if (field.size() < width) {
        if (letter == 's')
          field.append(width - field.size(), ' ');
        else if (letter == 'd' || letter == 'u' || letter == 'x') {
          size_t pad = width - field.size();
          if (zero && !field.empty() && field[0] == '-')
            field.insert(1, pad, '0');
          else
            field.insert(0, pad, zero ? '0' : ' ');
        }
      }
      put(field);
      continue;
    }
    put(std::string(1, c));
  }
  if (truncated || out.empty() || out.back() != '\n') out += '\n';
  return out;
}

std::string WithoutNewline(const char *t) {
  std::string s = t ? t : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// The fallback's class word for a status ("" without class bits).
const char *ClassWord(VtStatus status) {
  if (status & VO_CLASS_ERROR) return "ERROR: ";
  if (status & VO_CLASS_WARNING) return "WARNING: ";
  if (status & VO_CLASS_DEBUG) return "DEBUG: ";
  return "";
}

// The fallback's argument list, " [ a b ]", handed to put piece by piece (a
// string in pieces of at most 508 characters); nothing without arguments.
template <class Put>
void ArgumentList(uint32_t count, const VtTypedValue *args, Put put) {
  if (count == 0) return;
  char buf[96];
  put(" [");
  for (uint32_t i = 0; i < count; ++i) {
    const VtTypedValue &v = args[i];
    switch (v.type) {
      case VtInt32: std::snprintf(buf, sizeof buf, " %d", v.value.i); break;
      case VtNat32: std::snprintf(buf, sizeof buf, " %u", v.value.u); break;
      case VtFloat: std::snprintf(buf, sizeof buf, " %.6g", static_cast<double>(v.value.f)); break;
      case VtDouble: std::snprintf(buf, sizeof buf, " %.15g", v.value.d); break;
      case VtGenericPtr: std::snprintf(buf, sizeof buf, " %p", v.value.p); break;
      case VtString: {
        const char *s = v.value.s ? v.value.s : "";
        size_t len = std::strlen(s);
        size_t pieces = len / kStringPiece + 1;
        for (size_t k = 0; k < pieces; ++k) {
          size_t from = k * kStringPiece;
          size_t n = from < len ? std::min(kStringPiece, len - from) : 0;
          std::string piece = " \"";
          piece.append(s + from, n);
          piece += '"';
          put(piece.c_str());
        }
        continue;
      }
      default: std::strcpy(buf, " ?"); break;
    }
    put(buf);
  }
  put(" ]");
}

void FallbackLine(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                  const VtTypedValue *args) {
  char buf[96];
  if (*ClassWord(status)) WriteOut(ClassWord(status));
  std::snprintf(buf, sizeof buf, " Module %d, diagnostic code %d", static_cast<int>(module),
                static_cast<int>(message));
  WriteOut(buf);
  ArgumentList(count, args, [](const char *piece) { WriteOut(piece); });
  WriteOut("\n");
}

// A number the usable message file lacks: the fallback's class word, the
// file's text for message 5, the arguments as the fallback lists them and
// the number, so that nothing posted is lost. A line too long for the output
// buffer loses the end of its argument list, never the number.
std::string MissingLine(const MessageState &m, VtStatus status, uint32_t message, uint32_t count,
                        const VtTypedValue *args) {
  std::string line = ClassWord(status);
  if (m.kept[3]) line += WithoutNewline(m.kept[3]);
  ArgumentList(count, args, [&line](const char *piece) { line += piece; });
  char num[32];
  std::snprintf(num, sizeof num, " %u\n", message);
  if (line.size() + std::strlen(num) > kOutputLimit + 1) line.resize(kOutputLimit + 1 - std::strlen(num));
  return line + num;
}

// Writes text to the error stream, else through the driver framework's
// message channel; remembers a message that found no channel.
VtStatus DefaultOutput(const char *text) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  MessageState &m = k->messages;
  if (m.error_stream != nullptr) {
    std::fprintf(m.error_stream, "%s", text);
    return 0;
  }
  if (MessageOutputProc channel = DriverChannel()) {
    if (channel(text) != 0) {
      // The channel declined (the null driver does): the text goes to
      // standard error rather than being lost.
      std::fputs(text, stderr);
      std::fflush(stderr);
    }
    if (m.message_lost) {
      // Announced once the current line is complete (see below).
      m.message_lost = 0;
      m.announce_loss = 1;
    }
    return 0;
  }
  if (!ModuleStarted(VO_MODULE_DRIVER)) return DriverMessageWrite(text);
  m.message_lost = 1;
  return 0;
}

VtTypedValue *NextSlot() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->pending.count >= kDiagnosticSlots) return nullptr;
  VtTypedValue *slot = &k->pending.args[k->pending.count++];
  std::memset(slot, 0, sizeof *slot);
  return slot;
}

// The default handler's work on one diagnostic. The arguments are the
// handler's own (VoDiagnosticEnd hands over a copy of the pending record).
void HandleOne(VtKernelContext *k, VtStatus status, uint32_t message, uint32_t module, uint32_t count,
               const VtTypedValue *args) {
  MessageState &m = k->messages;
  if ((status & m.severity_mask) == 0) return;
  if (count > kDiagnosticSlots) count = kDiagnosticSlots;
  if (args == nullptr) count = 0;
  if (m.file_changed) MessageFileValidate(k);
  if (m.file_usable) {
    const char *text = VoMessageFileLookup(message);
    if (text != nullptr) {
      std::string line = FormatMessage(message, text, count, args);
      char *out = OutputBuffer(k);
      std::memcpy(out, line.c_str(), line.size() + 1);
      WriteOut(out);
      return;
    }
    WriteOut(MissingLine(m, status, message, count, args).c_str());
    return;
  }
  FallbackLine(status, message, module, count, args);
}

}  // namespace

void DiagnosticsCreate(VtKernelContext *k) {
  MessageState &m = k->messages;
  m.text = static_cast<char *>(VoAllocate(2 * kMessageLine));
  if (m.text) std::memset(m.text, 0, 2 * kMessageLine);
  m.severity_mask = 0xFFFFFFFFu;
  m.output = &DefaultOutput;
  // A channel chosen at once (through the callback) has lost nothing.
  if (m.error_stream == nullptr && DriverChannel() != nullptr) m.message_lost = 0;
}

void DiagnosticsDestroy(VtKernelContext *k) {
  if (k == nullptr) return;
  KeptFree(k->messages);
  VoDeallocate(k->messages.text);
  k->messages.text = nullptr;
}

void MessageOutputChoose() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  MessageState &m = k->messages;
  // Another thread's post reads the output and writes the loss under the
  // post lock: the output, chosen at start, is written only when it differs,
  // and the loss is forgotten only when no other thread is posting (which
  // never waits here: a render changes callbacks while another thread's
  // handler may wait on the render).
  if (m.output != &DefaultOutput) m.output = &DefaultOutput;
  std::unique_lock<std::recursive_mutex> hold(PostMutex(), std::try_to_lock);
  // A channel chosen at once (through the callback) has lost nothing.
  if (hold.owns_lock() && m.error_stream == nullptr && DriverChannel() != nullptr) m.message_lost = 0;
}

VtStatus DriverMessageWrite(const char *text) {
  if (ModuleStarted(VO_MODULE_DRIVER) && VoDriverWriteMessage(nullptr, text) == 0) return 0;
  std::fputs(text, stderr);
  std::fflush(stderr);
  return 0;
}

bool PostingOnThread() { return t_post_held != 0; }

void VoDiagnosticBegin(VtStatus status, uint32_t message, uint32_t module) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  PostMutex().lock();
  ++t_post_held;
  if (k->pending_open && t_post_held > 1) {
    // A Begin without End on this thread (another's would wait above): the
    // earlier Begin's hold is given up.
    --t_post_held;
    PostMutex().unlock();
  }
  bool lock = KernelThreading();
  if (lock) KernelLockEnter();
  if (k->pending_open && k->pending_locked) {
    // A Begin without End: the earlier Begin's hold on the lock is given up.
    KernelLockLeave();
  }
  k->pending_locked = lock ? 1 : 0;
  k->pending_open = 1;
  k->pending.status = status;
  k->pending.message = message;
  k->pending.module = module;
  k->pending.count = 0;
}

void VoDiagnosticArgInt(int32_t value) {
  if (VtTypedValue *s = NextSlot()) {
    s->type = VtInt32;
    s->value.i = value;
  }
}

void VoDiagnosticArgNat32(uint32_t value) {
  if (VtTypedValue *s = NextSlot()) {
    s->type = VtNat32;
    s->value.u = value;
  }
}

void VoDiagnosticArgDouble(double value) {
  if (VtTypedValue *s = NextSlot()) {
    s->type = VtDouble;
    s->value.d = value;
  }
}

void VoDiagnosticArgPointer(void *value) {
  if (VtTypedValue *s = NextSlot()) {
    s->type = VtGenericPtr;
    s->value.p = value;
  }
}

void VoDiagnosticArgString(const char *value) {
  if (value == nullptr) return;
  if (VtTypedValue *s = NextSlot()) {
    s->type = VtString;
    s->value.s = value;
  }
}

VtStatus VoDiagnosticEnd() {
  struct Ended {
    ~Ended() {
      if (t_post_held == 0) return;  // an End without Begin
      --t_post_held;
      PostMutex().unlock();
    }
  } const ended;
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  // The handler may post diagnostics of its own: it is given a copy, so those
  // posts cannot overwrite the arguments it is formatting.
  PendingDiagnostic copy = k->pending;
  bool locked = k->pending_locked != 0;
  k->pending_open = 0;
  k->pending_locked = 0;
  if (auto handler = KernelCallback<VtErrorHandler>(VO_CALLBACK_ERROR_HANDLER))
    handler(copy.status, copy.message, copy.module, copy.count, copy.args);
  if (locked) KernelLockLeave();
  return 0;
}

void VoAssert(const char *file, int32_t line) { Post(VO_CLASS_DEBUG, 100, VO_MODULE_SYSTEM, file, line); }

const char *VoMessageFileLookup(uint32_t message) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->messages.message_file == nullptr || k->messages.text == nullptr) return nullptr;
  char key[16];
  std::snprintf(key, sizeof key, "%u", message);
  std::FILE *f = k->messages.message_file;
  std::rewind(f);
  char *line = LineBuffer(k);
  while (ReadLine(f, line, kMessageLine)) {
    const char *p = line;
    while (*p == '0') ++p;
    const char *digits = p;
    while (*p >= '0' && *p <= '9') ++p;
    // The whole leading number must equal the key (message 1 is not "12").
    size_t n = static_cast<size_t>(p - digits);
    bool match = n == std::strlen(key) && std::strncmp(digits, key, n) == 0;
    if (!match && message == 0) match = n == 0 && digits != line;  // "0", "00", ...
    if (!match) continue;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
  }
  return nullptr;
}

VtStatus VoErrorHandlerDefault(VtStatus status, uint32_t message, uint32_t module, uint32_t count,
                               VtTypedValue *args) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->messages.text == nullptr) return 0;
  HandleOne(k, status, message, module, count, args);
  // A message lost earlier is announced after the line that found a channel.
  if (Kernel() == k && k->messages.announce_loss) {
    k->messages.announce_loss = 0;
    Post(VO_CLASS_WARNING, 442, VO_MODULE_SYSTEM);
  }
  return 0;
}

}  // namespace vo
