#include "mesh/MeshWire.h"

#include <cstdint>
#include <cstring>

namespace {

void appendRaw(std::string &out, const void *data, std::size_t size) {
  out.append(static_cast<const char *>(data), size);
}

void appendCount(std::string &out, std::uint64_t value) {
  appendRaw(out, &value, sizeof value);
}

class Reader {
public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool take(void *data, std::size_t size) {
    if (bytes_.size() - pos_ < size) {
      return false;
    }
    // An empty vector's data() may be null, which memcpy may not be given.
    if (size != 0) {
      std::memcpy(data, bytes_.data() + pos_, size);
    }
    pos_ += size;
    return true;
  }
  std::size_t left() const { return bytes_.size() - pos_; }

private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

} // namespace

std::string encodeMesh(const Mesh &mesh) {
  std::string out(1, char(ReplyKind::Mesh));
  appendCount(out, mesh.points.size());
  appendCount(out, mesh.triangles.size());
  appendCount(out, mesh.skippedPoints);
  appendCount(out, mesh.skippedLines);
  out.reserve(out.size() + mesh.points.size() * sizeof(Vec3) +
              mesh.triangles.size() * sizeof(mesh.triangles[0]));
  for (const Vec3 &p : mesh.points) {
    const float xyz[3] = {p.x, p.y, p.z};
    appendRaw(out, xyz, sizeof xyz);
  }
  appendRaw(out, mesh.triangles.data(), mesh.triangles.size() * sizeof(mesh.triangles[0]));
  return out;
}

std::string encodeError(ReplyKind kind, std::string_view reason) {
  std::string out(1, char(kind));
  out += reason;
  return out;
}

Reply decodeReply(std::string_view bytes) {
  Reply reply;
  if (bytes.empty()) {
    return reply;
  }
  reply.kind = ReplyKind(bytes[0]);
  if (reply.kind == ReplyKind::Error || reply.kind == ReplyKind::OutOfMemory) {
    reply.reason = std::string(bytes.substr(1));
    reply.valid = reply.reason.find('\n') == std::string::npos;
    return reply;
  }
  if (reply.kind != ReplyKind::Mesh) {
    return reply;
  }
  Reader in(bytes.substr(1));
  std::uint64_t points = 0;
  std::uint64_t triangles = 0;
  Mesh &mesh = reply.mesh;
  if (!in.take(&points, 8) || !in.take(&triangles, 8) || !in.take(&mesh.skippedPoints, 8) ||
      !in.take(&mesh.skippedLines, 8)) {
    return reply;
  }
  // Sizes are checked against the bytes that came before anything is sized
  // from them.
  const std::uint64_t pointBytes = 12;
  const std::uint64_t triangleBytes = 12;
  if (points > in.left() / pointBytes || triangles > in.left() / triangleBytes ||
      points * pointBytes + triangles * triangleBytes != in.left()) {
    return reply;
  }
  mesh.points.resize(points);
  for (Vec3 &p : mesh.points) {
    float xyz[3] = {};
    in.take(xyz, sizeof xyz);
    p = {xyz[0], xyz[1], xyz[2]};
  }
  mesh.triangles.resize(triangles);
  in.take(mesh.triangles.data(), triangles * triangleBytes);
  for (const auto &t : mesh.triangles) {
    for (const std::uint32_t corner : t) {
      if (corner >= points) {
        return reply;
      }
    }
  }
  reply.valid = true;
  return reply;
}
