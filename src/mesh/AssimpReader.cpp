#include "mesh/AssimpReader.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "mesh/MeshWire.h"
#include "mesh/PolygonTriangulation.h"

namespace {

// A node's transform to the root's space, column vectors, in double so that
// deep graphs add no rounding of their own.
struct Affine {
  double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

  static Affine of(const aiMatrix4x4 &t) {
    Affine a;
    const float *rows[3] = {&t.a1, &t.b1, &t.c1};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) {
        a.m[r][c] = rows[r][c];
      }
    }
    return a;
  }

  Affine then(const Affine &child) const {
    Affine out;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) {
        double sum = c == 3 ? m[r][3] : 0.0;
        for (int k = 0; k < 3; ++k) {
          sum += m[r][k] * child.m[k][c];
        }
        out.m[r][c] = sum;
      }
    }
    return out;
  }

  Vec3 apply(const aiVector3D &p) const {
    double out[3];
    for (int r = 0; r < 3; ++r) {
      out[r] = m[r][0] * p.x + m[r][1] * p.y + m[r][2] * p.z + m[r][3];
    }
    return {float(out[0]), float(out[1]), float(out[2])};
  }

  // A mirroring transform turns counter-clockwise faces clockwise.
  bool mirrors() const {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    return det < 0.0;
  }
};

// Appends one instance of `source` placed by `transform`. False when the
// points would no longer fit 32-bit indices.
bool appendInstance(const aiMesh &source, const Affine &transform, Mesh &mesh) {
  const std::size_t base = mesh.points.size();
  if (source.mNumVertices > std::numeric_limits<std::uint32_t>::max() - base) {
    return false;
  }
  for (unsigned i = 0; i < source.mNumVertices; ++i) {
    mesh.points.push_back(transform.apply(source.mVertices[i]));
  }
  const bool flip = transform.mirrors();
  auto addTriangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    mesh.triangles.push_back(
        flip ? std::array{std::uint32_t(base + a), std::uint32_t(base + c), std::uint32_t(base + b)}
             : std::array{std::uint32_t(base + a), std::uint32_t(base + b),
                          std::uint32_t(base + c)});
  };
  std::vector<Vec3> corners;
  for (unsigned f = 0; f < source.mNumFaces; ++f) {
    const aiFace &face = source.mFaces[f];
    const unsigned *index = face.mIndices;
    if (face.mNumIndices == 1) {
      ++mesh.skippedPoints;
    } else if (face.mNumIndices == 2) {
      ++mesh.skippedLines;
    } else if (face.mNumIndices == 3) {
      addTriangle(index[0], index[1], index[2]);
    } else if (face.mNumIndices > 3) {
      // In the mesh's own space: the transform is affine, so the split holds.
      corners.clear();
      for (unsigned k = 0; k < face.mNumIndices; ++k) {
        const aiVector3D &p = source.mVertices[index[k]];
        corners.emplace_back(p.x, p.y, p.z);
      }
      for (const auto &t : triangulatePolygon(corners)) {
        addTriangle(index[t[0]], index[t[1]], index[t[2]]);
      }
    }
  }
  return true;
}

std::string collect(const aiScene &scene) {
  Mesh mesh;
  std::vector<std::pair<const aiNode *, Affine>> pending = {
      {scene.mRootNode, Affine::of(scene.mRootNode->mTransformation)}};
  while (!pending.empty()) {
    const auto [node, transform] = pending.back();
    pending.pop_back();
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
      if (!appendInstance(*scene.mMeshes[node->mMeshes[i]], transform, mesh)) {
        return encodeError(ReplyKind::Error, "the mesh has more than 4294967295 points");
      }
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) {
      const aiNode *child = node->mChildren[i];
      pending.emplace_back(child, transform.then(Affine::of(child->mTransformation)));
    }
  }
  return encodeMesh(mesh);
}

// A text file saved with a UTF-8 byte-order mark: the OBJ reader would take
// the mark as part of the first record and drop it. Returns the text after
// the mark, or nothing when there is no mark.
std::string textAfterByteOrderMark(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  char mark[3] = {};
  if (!file.read(mark, 3) || mark[0] != '\xef' || mark[1] != '\xbb' || mark[2] != '\xbf') {
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

std::string readMeshWithAssimp(const std::string &path) {
  try {
    Assimp::Importer importer;
    // No triangulation by the library: ours keeps concave polygons right.
    const unsigned steps = aiProcess_ValidateDataStructure;
    const std::string text = textAfterByteOrderMark(path);
    const std::string extension = path.substr(path.find_last_of('.') + 1);
    const aiScene *scene = text.empty() ? importer.ReadFile(path, steps)
                                        : importer.ReadFileFromMemory(text.data(), text.size(),
                                                                      steps, extension.c_str());
    if (scene == nullptr) {
      const std::string reason = importer.GetErrorString();
      if (reason.find("bad_alloc") != std::string::npos) {
        return encodeError(ReplyKind::OutOfMemory, reason);
      }
      std::string line = reason.empty() ? "the file could not be read" : reason;
      for (char &c : line) {
        if (c == '\n' || c == '\r') {
          c = ' ';
        }
      }
      while (!line.empty() && line.back() == ' ') {
        line.pop_back();
      }
      return encodeError(ReplyKind::Error, line);
    }
    if ((scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0) {
      return encodeError(ReplyKind::Error, "the file holds an incomplete scene");
    }
    if (scene->mRootNode == nullptr) {
      return encodeError(ReplyKind::Error, "the file has no scene graph (no root node)");
    }
    return collect(*scene);
  } catch (const std::bad_alloc &) {
    return encodeError(ReplyKind::OutOfMemory, "out of memory");
  }
}
