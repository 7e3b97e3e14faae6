#pragma once

#include <string>
#include <string_view>

#include "mesh/Mesh.h"

// What the reading child sends its parent through a pipe: a mesh, or the
// one-line reason it has none. Decoding trusts nothing: a reply that is cut
// short or names a corner beyond the points is refused.
enum class ReplyKind : char { Mesh = 'M', Error = 'E', OutOfMemory = 'O' };

std::string encodeMesh(const Mesh &mesh);
std::string encodeError(ReplyKind kind, std::string_view reason);

struct Reply {
  // Malformed (or empty) replies have no kind.
  bool valid = false;
  ReplyKind kind = ReplyKind::Error;
  std::string reason;
  Mesh mesh;
};

Reply decodeReply(std::string_view bytes);
