#pragma once
// TPKTTracer: a small TCP server exchanging TPKT-framed messages with any
// number of clients, independent of the protocol stacks. Each client's
// frames (payload at most 512 octets) go to the sink; Send answers the
// client whose message is being handled, or reaches every client otherwise.
#include "control/accept_guard.h"
#include "runtime/event.h"

#include <cstddef>
#include <list>
#include <memory>

class TPKTTracer {
 public:
  class Sink {
   public:
    virtual ~Sink();
    virtual void receive(const char* data, unsigned int len) = 0;
  };

  static constexpr unsigned int buffer_size = 512;

  explicit TPKTTracer(Sink* sink = nullptr) : sink(sink) {}
  ~TPKTTracer();
  TPKTTracer(const TPKTTracer&) = delete;
  TPKTTracer& operator=(const TPKTTracer&) = delete;

  // Listens on every local address; false, keeping nothing, when a step fails.
  bool Listen(unsigned short port);
  // The port actually listened on (useful after Listen(0)); 0 when none.
  unsigned short port() const;
  void Send(const void* data, unsigned int len);
  std::size_t connection_count() const { return connections.size(); }

 private:
  struct Connection {
    enum Mode { header, body };
    Mode mode = header;
    unsigned int needed = 4;
    unsigned int got = 0;
    Event event;
    unsigned char buffer[buffer_size];
  };

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  void CloseConnection(Connection* c);
  Connection* FindConnection(int fd);
  // Writes one frame; false when the connection had to be closed.
  bool SendTo(Connection* c, const unsigned char* header, const void* data, unsigned int len);

  Sink* sink;
  Event listen_event;
  // Out of descriptors, pending connections are dropped, not spun on.
  Control::AcceptGuard guard{listen_event};
  std::list<std::unique_ptr<Connection>> connections;
  Connection* current = nullptr;
};
