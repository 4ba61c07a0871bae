// Packet-type names and the text dump of Zarn radio packets.
#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "radio/zarn/sig_proto.h"

const s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_ROWS] = {
    {1, "GW_FLAG"},
    {2, "GW_ADJUST_CHAN"},
    {3, "GW_FLAG_PTT"},
    {4, "GW_FLAG_BSS"},
    {5, "GW_FLAG_RV"},
    {6, "GW_FLAG_SH"},
    {7, "GW_FLAG_PW"},
    {8, "GW_FLAG_RS"},
    {9, "GW_SEL_CALL"},
    {10, "GW_SELECT_RC_CHAN"},
    {11, "GW_ADJUST_SQUELSHE"},
    {12, "GW_ADJUST_RTE"},
    {13, "GW_ADJUST_STANDBY"},
    {129, "WM_FLAG"},
    {130, "WM_TRANS"},
    {131, "WM_RADIO_QUALITY"},
    {132, "WM_CHAN"},
    {133, "WM_SEL_CALL_TRANS"},
    {134, "WM_SELECT_RC_CHAN"},
    {135, "WM_STANDBY"},
    {-1, ""},
};

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < SIG_PROTO_NAME_ROWS && table[i].id >= 0; ++i)
    if (table[i].id == id) return table[i].name;
  return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < SIG_PROTO_NAME_ROWS && table[i].id >= 0; ++i)
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].id;
  return -1;
}

namespace {

// Appends formatted text to a caller's buffer, never past size - 1
// characters; the buffer stays terminated.
class Text {
 public:
  Text(char* buf, int size) : buf_(buf), cap_(size - 1) {}
  void operator()(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (len_ >= cap_) return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf_ + len_, static_cast<std::size_t>(cap_ - len_ + 1), fmt, ap);
    va_end(ap);
    if (n < 0) return;
    len_ = n > cap_ - len_ ? cap_ : len_ + n;
  }
  int length() const { return len_; }

 private:
  char* buf_;
  int cap_;
  int len_ = 0;
};

bool payload_wanted(int options) { return !(options & SIG_PROTO_PRINT_FLAGS_ONLY); }

// The type line, the ten flags and (unless flags only) priority and status.
void base(Text& out, const sig_proto& p, int options) {
  if (options & SIG_PROTO_PRINT_TYPE_NAME) {
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(p.type));
    if (name)
      out("type      : %s,\n", name);
    else
      out("type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
  } else if (options & SIG_PROTO_PRINT_TYPE_HEX) {
    out("type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
  }
  out("flag_t   : %lu,\n", static_cast<unsigned long>(p.flag_t));
  out("flag_p   : %lu,\n", static_cast<unsigned long>(p.flag_p));
  out("flag_r   : %lu,\n", static_cast<unsigned long>(p.flag_r));
  out("flag_s   : %lu,\n", static_cast<unsigned long>(p.flag_s));
  out("flag_b   : %lu,\n", static_cast<unsigned long>(p.flag_b));
  out("flag_rv  : %lu,\n", static_cast<unsigned long>(p.flag_rv));
  out("flag_sh  : %lu,\n", static_cast<unsigned long>(p.flag_sh));
  out("flag_rs  : %lu,\n", static_cast<unsigned long>(p.flag_rs));
  out("flag_pw  : %lu,\n", static_cast<unsigned long>(p.flag_pw));
  out("flag_c   : %lu,\n", static_cast<unsigned long>(p.flag_c));
  if (!payload_wanted(options)) return;
  out("priority : %lu,\n", static_cast<unsigned long>(p.priority));
  out("status   : %lu,\n", static_cast<unsigned long>(p.status));
}

void text_bytes(Text& out, const std::uint8_t* text, int n) {
  for (int i = 0; i < n; ++i) out("[%d] : 0x%02X,\n", i, text[i]);
}

void dotted(char (&s)[INET_ADDRSTRLEN], in_addr a) {
  if (!inet_ntop(AF_INET, &a, s, sizeof s)) s[0] = '\0';
}

// Runs a printer body after the common checks; the buffer is cleared first.
template <typename Body>
int print(char* buf, int size, const sig_proto* p, int options, Body body) {
  if (!buf || !p || size < 1) return 0;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  Text out(buf, size);
  base(out, *p, options);
  if (payload_wanted(options)) body(out, *p);
  return out.length();
}

}  // namespace

int sprintf_base(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text&, const sig_proto&) {});
}

int sprintf_gw_adjust_chan(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("gw_adjust_chan.id   : %lu,\n", static_cast<unsigned long>(r.gw_adjust_chan.id));
    out("gw_adjust_chan.freq : %4.4f,\n", static_cast<double>(r.gw_adjust_chan.freq));
  });
}

int sprintf_gw_selcall(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("gw_sel_call.callerID_length: %d,\n", r.gw_sel_call.callerID_length);
    out("gw_sel_call.callerID : \n");
    text_bytes(out, r.gw_sel_call.callerID, r.gw_sel_call.callerID_length);
  });
}

int sprintf_gw_select_rc_chan(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("gw_select_rc_chan.interface : %d,\n", r.gw_select_rc_chan.interface);
    out("gw_select_rc_chan.channel   : %d,\n", r.gw_select_rc_chan.channel);
  });
}

int sprintf_gw_adjust_squelsh(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("gw_adjust_squelsh.squelsh   : %d,\n", r.gw_adjust_squelsh.squelsh);
  });
}

int sprintf_gw_adjust_rte(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options,
               [](Text& out, const sig_proto& r) { out("gw_adjust_rte.rte   : %d,\n", r.gw_adjust_rte.rte); });
}

int sprintf_gw_adjust_standby(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("gw_adjust_standby.state   : %d,\n", r.gw_adjust_standby.state);
  });
}

int sprintf_wm_trans(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    char addr[INET_ADDRSTRLEN];
    dotted(addr, r.wm_trans.session_addr);
    out("wm_trans.session_addr : %s,\n", addr);
    out("wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(r.wm_trans.ssrc));
  });
}

int sprintf_wm_radio_qulity(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("wm_radio_quality.radio_quality : %4.5f,\n", static_cast<double>(r.wm_radio_quality.radio_quality));
  });
}

int sprintf_wm_chan(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("wm_chan.id   : %lu,\n", static_cast<unsigned long>(r.wm_chan.id));
    out("wm_chan.freq : %4.4f,\n", static_cast<double>(r.wm_chan.freq));
    out("wm_chan.squelsh : %d,\n", r.wm_chan.squelsh);
    out("wm_chan.rte     : %d,\n", r.wm_chan.rte);
  });
}

int sprintf_wm_selcall(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    char addr[INET_ADDRSTRLEN];
    dotted(addr, r.wm_sel_call_trans.session_addr);
    out("wm_sel_call_trans.session_addr : %s,\n", addr);
    out("wm_sel_call_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(r.wm_sel_call_trans.ssrc));
    out("wm_sel_call_trans.callerID_length: %d,\n", r.wm_sel_call_trans.callerID_length);
    out("wm_sel_call_trans.callerID : \n");
    text_bytes(out, r.wm_sel_call_trans.callerID, r.wm_sel_call_trans.callerID_length);
  });
}

int sprintf_wm_select_rc_chan(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("wm_select_rc_chan.interface : %d,\n", r.wm_select_rc_chan.interface);
    out("wm_select_rc_chan.channel   : %d,\n", r.wm_select_rc_chan.channel);
  });
}

int sprintf_wm_standby(char* buf, int size, const sig_proto* p, int options) {
  return print(buf, size, p, options, [](Text& out, const sig_proto& r) {
    out("wm_standby.state           : %d,\n", r.wm_standby.state);
    out("wm_standby.group           : %d,\n", r.wm_standby.group);
    out("wm_standby.receiver_state  : %d,\n", r.wm_standby.receiver_state);
  });
}

const s_sig_proto_sprintf sig_proto_sprintf_table[SIG_PROTO_PRINTER_ROWS] = {
    {0, sprintf_base},
    {GW_FLAG, sprintf_base},
    {GW_FLAG_PTT, sprintf_base},
    {GW_FLAG_BSS, sprintf_base},
    {GW_FLAG_RV, sprintf_base},
    {GW_FLAG_SH, sprintf_base},
    {GW_FLAG_PW, sprintf_base},
    {GW_FLAG_RS, sprintf_base},
    {WM_FLAG, sprintf_base},
    {GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {GW_SEL_CALL, sprintf_gw_selcall},
    {GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {WM_TRANS, sprintf_wm_trans},
    {WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {WM_CHAN, sprintf_wm_chan},
    {WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {WM_STANDBY, sprintf_wm_standby},
};

int sprintf_sig_proto(char* buf, int size, const sig_proto* p, int options) {
  if (!buf || !p || size < 1) return 0;
  for (const s_sig_proto_sprintf& row : sig_proto_sprintf_table)
    if (row.type == p->type) return row.print(buf, size, p, options);
  buf[0] = '\0';  // no printer: an empty text
  return 0;
}
