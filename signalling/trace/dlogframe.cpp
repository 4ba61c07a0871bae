#include "signalling/trace/dlogframe.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ISDN {
namespace {

// The output: formatted appends that stop at the end of the buffer.
class Out {
 public:
  Out(char* buf, std::size_t cap) : buf_(buf), cap_(cap) {}

  int printf(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (pos_ + 1 >= cap_) return 0;
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf_ + pos_, cap_ - pos_, format, ap);
    va_end(ap);
    if (n < 0) return 0;
    std::size_t room = cap_ - pos_ - 1;
    std::size_t put = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
    pos_ += put;
    return static_cast<int>(put);
  }
  int ch(char c) { return printf("%c", c); }
  int bits(unsigned char octet, int start, int count) {
    char tmp[8];
    if (count > 8) count = 8;
    int n = printbits(tmp, octet, start, count);
    return printf("%.*s", n, tmp);
  }
  std::size_t pos() const { return pos_; }
  void finish() { buf_[pos_ < cap_ ? pos_ : cap_ - 1] = '\0'; }

 private:
  char* buf_;
  std::size_t cap_;
  std::size_t pos_ = 0;
};

// One information element: its identifier octet, its claimed contents and
// the end of the frame, past which nothing is read.
struct Element {
  const unsigned char* id;
  const unsigned char* frame_end;

  int length() const { return id[1]; }
  const unsigned char* contents() const { return id + 2; }
  // The end of the contents the element claims, cut at the frame's end.
  // Compared as a count: a claimed end past the frame is never formed, as
  // it could wrap past the top of a 32-bit address space.
  const unsigned char* end() const {
    return frame_end - contents() > length() ? contents() + length() : frame_end;
  }
  bool has(const unsigned char* p) const { return p < frame_end; }
};

using Printer = int (*)(Out&, const Element&);

int general(Out& out, const Element& e) {
  std::size_t start = out.pos();
  int number = 3;
  char letter = ' ';
  for (const unsigned char* p = e.contents(); p < e.end(); ++p) {
    out.printf("    octet %d%c ", number, letter);
    out.bits(*p, 8, 8);
    out.ch('\n');
    if (*p & 0x80) {
      ++number;
      letter = ' ';
    } else {
      letter = letter == ' ' ? 'a' : static_cast<char>(letter + 1);
    }
  }
  return static_cast<int>(out.pos() - start);
}

// Octets 5 to 7 are picked by their layer bits (7..6), not by the length.
int prbearer(Out& out, const Element& e) {
  std::size_t start = out.pos();
  const unsigned char* p = e.contents();
  if (!e.has(p)) return 0;
  out.printf("    octet 3  ");
  out.bits(*p++, 8, 8);
  out.ch('\n');
  if (!e.has(p)) return static_cast<int>(out.pos() - start);
  unsigned char o4 = *p++;
  out.printf("    octet 4  ");
  out.bits(o4, 8, 8);
  out.ch('\n');
  if ((o4 & 0x1F) == 0x18 && e.has(p)) {
    out.printf("    octet 4.1 ");
    out.bits(*p++, 8, 8);
    out.ch('\n');
  }
  if (e.has(p) && (*p & 0x60) == 0x20) {
    char letter = ' ';
    while (e.has(p)) {
      unsigned char o = *p++;
      out.printf("    octet 5%c ", letter);
      out.bits(o, 8, 8);
      out.ch('\n');
      if (o & 0x80) break;
      letter = letter == ' ' ? 'a' : static_cast<char>(letter + 1);
    }
  }
  if (e.has(p) && (*p & 0x60) == 0x40) {
    out.printf("    octet 6  ");
    out.bits(*p++, 8, 8);
    out.ch('\n');
  }
  if (e.has(p) && (*p & 0x60) == 0x60) {
    out.printf("    octet 7  ");
    out.bits(*p++, 8, 8);
    out.ch('\n');
  }
  return static_cast<int>(out.pos() - start);
}

struct CauseText {
  unsigned char value;
  const char* text;
};

const CauseText cvlist[] = {
    {0x01, "Unallocated (unassigned) number"},
    {0x02, "No route to specified transit network"},
    {0x03, "No route to destination"},
    {0x04, "Send special information tone"},
    {0x05, "Misdialled trunk prefix"},
    {0x06, "Channel unacceptable"},
    {0x07, "Channel awarded and being delivered in an established channel"},
    {0x08, "Preemption"},
    {0x09, "Preemption - circuit reserved for reuse"},
    {0x10, "Normal call clearing"},
    {0x11, "User busy"},
    {0x12, "No user responding"},
    {0x13, "No answer from user (user alerted)"},
    {0x14, "Subscriber absent"},
    {0x15, "Call rejected"},
    {0x16, "Number changed"},
    {0x1A, "non-selected user clearing"},
    {0x1B, "Destination out of order"},
    {0x1C, "Invalid number format (address incomplete)"},
    {0x1D, "Facility rejected"},
    {0x1E, "Response to Status enquiry"},
    {0x1F, "Normal, unspecified"},
    {0x22, "No circuit/channel available"},
    {0x26, "Network out of order"},
    {0x27, "Permanent frame mode connection out-of-service"},
    {0x28, "Permanent frame mode connection operational"},
    {0x29, "Temporary failure"},
    {0x2A, "Switching equipment congestion"},
    {0x2B, "Access information discarded"},
    {0x2C, "Requested circuit/channel not available"},
    {0x2E, "Precedence call blocked"},
    {0x2F, "Resource unavailable, unspecified"},
    {0x31, "Quality of service unavailable"},
    {0x32, "Requested facility not subscribed"},
    {0x35, "Outgoing calls barred within CUG"},
    {0x37, "Incoming calls barred within CUG"},
    {0x39, "Bearer capability not authorized"},
    {0x3A, "Bearer capability not presently available"},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class "},
    {0x3F, "Service or option not available, unspecified"},
    {0x41, "Bearer capability not implemented"},
    {0x42, "Channel type not implemented"},
    {0x43, "Requested facility not implemented"},
    {0x44, "Only restricted digital information bearer capability is available"},
    {0x4F, "Service or option not implemented"},
    {0x51, "Invalid call reference value"},
    {0x52, "Identified channel does not exist"},
    {0x53, "A suspended call exists, but this call identity does not"},
    {0x54, "Call identity in use"},
    {0x55, "No call suspended"},
    {0x56, "Call having the requested call identity has been cleared"},
    {0x57, "User not member of CUG"},
    {0x58, "Incompatible destination"},
    {0x5A, "Non-existent CUG"},
    {0x5B, "Invalid transit network selection"},
    {0x5F, "Invalid message, unspecified"},
    {0x60, "Mandatory information element is missing"},
    {0x61, "Message type non-existent or not implemented"},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented "},
    {0x63, "Information element/parameter non-existent or not implemented"},
    {0x64, "Invalid information element contents"},
    {0x65, "Message not compatible with call state"},
    {0x66, "Recovery on timer expiry"},
    {0x67, "Parameter non-existent or not implemented - passed on"},
    {0x6E, "Message with unrecognized parameter discarded"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
};

int prcause(Out& out, const Element& e) {
  std::size_t start = out.pos();
  const unsigned char* p = e.contents();
  if (!e.has(p)) return 0;
  out.printf("    coding ");
  out.bits(*p, 7, 2);
  out.printf(" location ");
  out.bits(*p, 4, 4);
  out.ch('\n');
  p = skipext(p, e.frame_end);
  if (!e.has(p)) return static_cast<int>(out.pos() - start);
  unsigned value = *p++ & 0x7F;
  const char* text = nullptr;
  for (const CauseText& c : cvlist)
    if (c.value == value) {
      text = c.text;
      break;
    }
  if (text)
    out.printf("  cause value %x : %s \n", value, text);
  else
    out.printf("Unknown cause type %x!\n", value);
  // Diagnostics: attribute, rejection and (unless the rejection octet ends
  // the group) the available value, which the next pass reads again.
  while (p < e.end()) {
    out.printf("    diag attribute %d ", *p++ & 0x7F);
    if (!e.has(p)) break;
    unsigned char rej = *p;
    out.printf(" rej %d ", rej & 0x7F);
    if (rej & 0x80) {
      out.ch('\n');
      break;
    }
    ++p;
    if (!e.has(p)) break;
    out.printf(" av %d\n", *p & 0x7F);
  }
  return static_cast<int>(out.pos() - start);
}

int octet3(Out& out, const Element& e) {
  const unsigned char* p = e.contents();
  if (!e.has(p)) return 0;
  int n = out.printf("    octet 3 ");
  n += out.bits(*p, 8, 8);
  n += out.ch('\n');
  return n;
}

int prchident(Out& out, const Element& e) { return octet3(out, e); }

int digits(Out& out, const unsigned char* p, const Element& e) {
  int n = out.printf("    number digits ");
  for (; p < e.end(); ++p) n += out.ch(static_cast<char>(*p));
  n += out.ch('\n');
  return n;
}

int prcalled(Out& out, const Element& e) {
  if (!e.has(e.contents())) return 0;
  int n = octet3(out, e);
  return n + digits(out, e.contents() + 1, e);
}

int prcalling(Out& out, const Element& e) {
  const unsigned char* p = e.contents();
  if (!e.has(p)) return 0;
  int n = octet3(out, e);
  if (!(*p++ & 0x80) && p < e.end()) {
    n += out.printf("    octet 3a ");
    n += out.bits(*p++, 8, 8);
    n += out.ch('\n');
  }
  return n + digits(out, p, e);
}

int prfacility(Out& out, const Element& e) {
  std::size_t start = out.pos();
  const unsigned char* p = e.contents();
  if (!e.has(p)) return 0;
  octet3(out, e);
  ++p;
  int remaining = e.length() - 1;
  while (remaining > 0 && e.has(p)) {
    out.printf("   octet 4 ");
    out.bits(*p++, 8, 8);
    out.ch('\n');
    remaining -= 2;
    if (!e.has(p)) break;
    int n = *p++ & 0x7F;
    out.printf("   octet 5 %d\n", n);
    out.printf("   contents ");
    for (int i = 0; i < n && e.has(p); ++i, ++p) out.printf("%2x ", *p);
    out.ch('\n');
    remaining -= n;
  }
  return static_cast<int>(out.pos() - start);
}

int display(Out& out, const Element& e) {
  int n = out.printf("   \"");
  for (const unsigned char* p = e.contents(); p < e.end(); ++p) n += out.ch(static_cast<char>(*p));
  n += out.printf("\"\n");
  return n;
}

struct MessageType {
  unsigned char code;
  const char* name;
};

const MessageType mtlist[] = {
    {0x01, "ALERTING"},        {0x02, "CALL PROCEEDING"},      {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"}, {0x03, "PROGRESS"},         {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"}, {0x24, "HOLD"},               {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},     {0x31, "RETRIEVE"},             {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"}, {0x26, "RESUME"},               {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},   {0x25, "SUSPEND"},              {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},  {0x20, "USER INFORMATION"},     {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},         {0x5A, "RELEASE COMPLETE"},     {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"}, {0x60, "SEGMENT"},          {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},     {0x62, "FACILITY"},             {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},          {0x75, "STATUS ENQUIRY"},
};

struct ElementType {
  unsigned char id;
  const char* name;
  Printer print;
};

const ElementType ielist[] = {
    {0x00, "Segmented message", general},
    {0x04, "Bearer capability", prbearer},
    {0x08, "Cause", prcause},
    {0x10, "Call identity", general},
    {0x14, "Call state", general},
    {0x18, "Channel identification", prchident},
    {0x1C, "Facility", prfacility},
    {0x1E, "Progress indicator", general},
    {0x20, "Network-specific facilities", general},
    {0x27, "Notification indicator", general},
    {0x28, "Display", display},
    {0x29, "Date/Time", general},
    {0x2C, "Keypad facility", general},
    {0x34, "Signal", general},
    {0x40, "Information rate", general},
    {0x42, "End-to-end delay", general},
    {0x43, "Transit delay selection and indication", general},
    {0x44, "Packet layer binary parameters", general},
    {0x45, "Packet layer window size", general},
    {0x46, "Packet size", general},
    {0x47, "Closed user group", general},
    {0x4A, "Reverse charge indication", general},
    {0x6C, "Calling party number", prcalling},
    {0x6D, "Calling party subaddress", general},
    {0x70, "Called party number", prcalled},
    {0x71, "Called party subaddress", general},
    {0x74, "Redirecting number", general},
    {0x78, "Transit network selection", general},
    {0x79, "Restart indicator", general},
    {0x7C, "Low layer compatibility", general},
    {0x7D, "High layer compatibility", general},
    {0x7E, "User-user", general},
    {0x7F, "Escape for extension", general},
};

void single_octet(Out& out, unsigned char o) {
  switch ((o >> 4) & 7) {
    case 2:
      if (o == 0xA0) out.printf("  More data\n");
      if (o == 0xA1) out.printf("  Sending complete\n");
      break;
    case 1: out.printf("  Shift %x\n", o & 0x0F); break;
    case 3: out.printf("  Congestion level %x\n", o & 0x0F); break;
    case 5: out.printf("  Repeat indicator %x\n", o & 0x0F); break;
    default: out.printf("  Reserved %x\n", o); break;
  }
}

void layer3(Out& out, const unsigned char* p, const unsigned char* end, int size) {
  if (*p++ != 8) {
    out.printf("Unknown protocol %x!", p[-1]);
    return;
  }
  if (p >= end) {
    out.printf("frame too short\n");
    return;
  }
  // The call reference takes as many octets as its length says (one on a
  // basic-rate link, two on a primary-rate one); the flag is bit 8 of the
  // first, and the message type follows the last. The value is kept 64
  // bits wide on every processor (a long has 32 on the board), so a long
  // call reference traces the same everywhere.
  unsigned char crlen = *p++;
  unsigned long long cr = 0;
  bool called = false;
  if (crlen != 0) {
    if (end - p < crlen) {
      out.printf("frame too short\n");
      return;
    }
    called = (*p & 0x80) != 0;
    cr = *p++ & 0x7Fu;
    for (int i = 1; i < crlen; ++i) cr = (cr << 8) | *p++;
  }
  if (p >= end) {
    out.printf("frame too short\n");
    return;
  }
  unsigned char type = *p++;
  const char* flag = called ? "called" : "caller";
  const char* name = nullptr;
  for (const MessageType& m : mtlist)
    if (m.code == type) {
      name = m.name;
      break;
    }
  if (name)
    out.printf("callref %llu %s size %d message type %s\n", cr, flag, size, name);
  else
    out.printf("callref %llu %s size %d unknown message type %x!\n", cr, flag, size, type);

  while (p < end) {
    if (*p & 0x80) {
      single_octet(out, *p++);
      continue;
    }
    if (p + 1 >= end) {
      out.printf("frame too short\n");
      return;
    }
    Element e{p, end};
    const ElementType* t = nullptr;
    for (const ElementType& row : ielist)
      if (row.id == *p) {
        t = &row;
        break;
      }
    if (t) {
      out.printf("  %s\n", t->name);
      t->print(out, e);
    } else {
      out.printf("  attribute %x attribute size %d\n", *p, e.length());
    }
    // Consumed by its length; a length past the frame ends the walk.
    if (end - p < 2 + e.length()) return;
    p += 2 + e.length();
  }
}

}  // namespace

int printbits(char* out, unsigned char octet, int start, int count) {
  for (int i = 0; i < count; ++i) {
    int bit = start - 1 - i;
    out[i] = (bit >= 0 && (octet >> bit) & 1) ? '1' : '0';
  }
  return count;
}

const unsigned char* skipext(const unsigned char* p, const unsigned char* end) {
  while (p < end)
    if (*p++ & 0x80) return p;
  return end;
}

void dlogframe(const unsigned char* frame, int length, int direction, char* buf, std::size_t size) {
  if (!frame || !buf || size == 0 || length <= 2) return;
  Out out(buf, size);
  const unsigned char* end = frame + length;
  for (int i = 0; i < length; ++i) out.printf(" %02X", frame[i]);
  out.ch('\n');

  int sapi = frame[0] >> 2;
  int tei = frame[1] >> 1;
  unsigned char control = frame[2];
  out.printf("frame %s ", direction ? "network->user" : "user->network");

  const unsigned char* l3 = nullptr;
  int l3size = 0;
  if (tei == 127) {
    if (sapi == 63) {
      out.printf("tei management:\n");
    } else if (sapi != 0) {
      out.printf("unknown sapi %d broadcast\n", sapi);
    } else if (control != 3) {
      out.printf("no UI broadcast\n");
    } else {
      out.printf("broadcast\n");
      l3 = frame + 3;
      l3size = length - 3;
    }
  } else if (sapi != 0) {
    out.printf("unknown sapi = %d; tei = %d\n", sapi, tei);
  } else if (control & 1) {
    out.printf("SFrame tei = %d (", tei);
    for (const unsigned char* p = frame + 2; p < end; ++p) out.printf("%02X ", *p);
    out.printf(")\n");
  } else {
    out.printf("IFrame tei = %d\n", tei);
    // A three-octet frame has no fourth: its end stands for the missing
    // layer 3 rather than a pointer past it.
    l3 = length > 4 ? frame + 4 : end;
    l3size = length - 4;
  }
  if (l3 && l3 >= end) {
    out.printf("frame too short\n");
    l3 = nullptr;
  }
  if (l3) layer3(out, l3, end, l3size);
  out.finish();
}

}  // namespace ISDN
