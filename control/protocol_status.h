#pragma once
// Status records passed between protocol layers when a layer stops or fails.
// They are created with new, wrapped at once in a
// Smart_pointer<Internal_protocol_status>, shared by copying the handle and
// never changed; the last handle deletes the record.
#include "runtime/smart_pointer.h"

#include <cstdint>
#include <iosfwd>
#include <string>

class Protocol_info;

class Internal_protocol_status {
 public:
  explicit Internal_protocol_status(const Protocol_info* reporter) : reporter_(reporter) {}
  Internal_protocol_status(const Internal_protocol_status&) = delete;
  Internal_protocol_status& operator=(const Internal_protocol_status&) = delete;
  virtual ~Internal_protocol_status();

  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual void out(std::ostream& os) const = 0;

  // The layer that reported it (may be gone by the time it is read).
  const Protocol_info* reporter() const { return reporter_; }

  // Kept by Smart_pointer.
  std::uint32_t ref_counter = 0;

 private:
  const Protocol_info* reporter_;
};

std::ostream& operator<<(std::ostream& os, const Internal_protocol_status& s);

// Records are shared, never copied: they do not change after construction.
template <>
struct Smart_pointer_traits<Internal_protocol_status> {
  static std::uint32_t& counter(Internal_protocol_status& s) { return s.ref_counter; }
  static void destroy(Internal_protocol_status* s) { delete s; }
  static constexpr bool copy_on_write = false;
  static Internal_protocol_status* clone(const Internal_protocol_status&) { return nullptr; }
};

// What the concrete records share: a text, which is their message and how
// they print.
class Protocol_status_text : public Internal_protocol_status {
 public:
  std::string message() const override { return text_; }
  void out(std::ostream& os) const override;

 protected:
  Protocol_status_text(const Protocol_info* reporter, const std::string& text)
      : Internal_protocol_status(reporter), text_(text) {}

 private:
  std::string text_;
};

class Protocol_status_success : public Protocol_status_text {
 public:
  Protocol_status_success(const Protocol_info* reporter, const std::string& text)
      : Protocol_status_text(reporter, text) {}
  bool success() const override { return true; }
};

class Protocol_status_error : public Protocol_status_text {
 public:
  Protocol_status_error(const Protocol_info* reporter, const std::string& text)
      : Protocol_status_text(reporter, text) {}
  bool success() const override { return false; }
};

// Initialising a stack that has no layers.
class Protocol_initialize_error : public Protocol_status_error {
 public:
  explicit Protocol_initialize_error(const Protocol_info* reporter)
      : Protocol_status_error(reporter, "error") {}
};
