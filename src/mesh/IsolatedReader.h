#pragma once

#include <cstdint>
#include <string>

#include "mesh/Mesh.h"

// Reading runs in a child process with a time and a memory limit, so that a
// library crash, abort, endless loop or runaway allocation on a hostile file
// becomes an error message instead of taking this process with it.
struct ReadLimits {
  double seconds = 0.0;
  std::uint64_t memoryBytes = 0;
};

// Generous for any real mesh: 30 s plus 1 s per MB, and 1 GiB plus 64 bytes
// per byte of file (a compressed file expands many times over).
ReadLimits limitsForFileSize(std::uintmax_t fileBytes);

struct ReadOutcome {
  Mesh mesh;
  // Empty on success; otherwise the reason, one line without the file name.
  std::string error;
};

// What runs in the child: returns an encoded reply (MeshWire.h).
using ChildReader = std::string (*)(const std::string &path);

ReadOutcome readMeshIsolated(const std::string &path, const ReadLimits &limits, ChildReader reader);
