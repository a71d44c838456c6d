#include "media/nal_packet.h"

#include <climits>
#include <cstring>

PacketPtr make_nal_packet(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(INT_MAX) - 4) return nullptr;
  PacketPtr packet(av_packet_alloc());
  if (!packet) return nullptr;
  if (av_new_packet(packet.get(), static_cast<int>(size) + 4) < 0) return nullptr;
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  std::memcpy(packet->data, kStartCode, 4);
  if (size) std::memcpy(packet->data + 4, data, size);
  return packet;
}
