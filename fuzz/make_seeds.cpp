// Writes the seed corpus for the receive-walk fuzzer: datagrams as the simulated tracker builds
// them (connect replies, status packets, node messages, several packets in one datagram, relay
// records), each behind the byte that picks connection state and sender.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/tracker.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write(const std::string &dir, const std::string &name, uint8_t mode, const Bytes &body) {
  std::string path = dir + "/" + name;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fputc(mode, f);
  std::fwrite(body.data(), 1, body.size(), f);
  std::fclose(f);
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
  namespace b = lvxsim::build;
  Bytes ack = b::connect_packet(0x81, 3, 2, "tracker", "display", "QX VELOTRIS LUMAVEX RX 5.7");
  Bytes poll = b::connect_packet(0x91, 3, 2, "tracker", "", "QX VELOTRIS LUMAVEX");
  Bytes status = b::status_packet(7, 22, 0xFFFD, 0, "ok");
  Bytes menu = b::status_packet(8, 150, 1, 2, "");
  Bytes node = b::node_packet(Bytes(24, 'n'));
  Bytes data = b::header(4, 14, 0, 9, 1000, 5);
  data.resize(60, 0);
  write(dir, "ack", 0, ack);
  write(dir, "poll_reply", 4, poll);
  write(dir, "status", 0, status);
  write(dir, "menu", 0, menu);
  write(dir, "node", 4, node);
  write(dir, "data_from_tracker", 0, data);
  write(dir, "data_from_stranger", 4, data);
  write(dir, "several", 0, cat({status, menu, data}));
  char head[32];
  std::snprintf(head, sizeof head, "LV_PKT:00000001:%08zx:", status.size());
  std::string relay = head + std::string(status.begin(), status.end());
  relay.push_back('\0');
  relay += "LV_SER:00000000:0000000d:00000000002a:";
  write(dir, "relay", 3, Bytes(relay.begin(), relay.end()));
  return 0;
}
