// Writes the small meshes under tests/data/meshes: one tetrahedron in every
// format scenetool import reads (the GLB files place it through a mirrored,
// scaled child node of a moved node), and a concave polygon with a line and a
// point. Run by scripts/make-test-meshes.sh, which installs the npm packages.
//
// Every format must give the same four triangles, counter-clockwise seen from
// outside: (0 0 0) (0 2 0) (4 0 0), (0 0 0) (4 0 0) (0 0 1),
// (0 0 0) (0 0 1) (0 2 0) and (4 0 0) (0 2 0) (0 0 1).
'use strict';
const fs = require('fs');
const path = require('path');
const { Document, NodeIO } = require('@gltf-transform/core');
const { KHRDracoMeshCompression } = require('@gltf-transform/extensions');
const { draco } = require('@gltf-transform/functions');
const draco3d = require('draco3d');

const out = process.argv[2];
const points = [[0, 0, 0], [4, 0, 0], [0, 2, 0], [0, 0, 1]];
const faces = [[0, 2, 1], [0, 1, 3], [0, 3, 2], [1, 2, 3]];
const write = (name, data) => fs.writeFileSync(path.join(out, name), data);

write('tetra.obj', '# tetrahedron\n' + points.map((p) => `v ${p.join(' ')}\n`).join('') +
  'vn 0 0 1\n' + faces.map((f) => `f ${f.map((i) => `${i + 1}//1`).join(' ')}\n`).join(''));

write('tetra.off', `OFF\n4 4 6\n${points.map((p) => p.join(' ')).join('\n')}\n` +
  faces.map((f) => `3 ${f.join(' ')}`).join('\n') + '\n');

const plyHeader = (format) => `ply\nformat ${format} 1.0\ncomment tetrahedron\n` +
  'element vertex 4\nproperty float x\nproperty float y\nproperty float z\n' +
  'element face 4\nproperty list uchar int vertex_indices\nend_header\n';
write('tetra-ascii.ply', plyHeader('ascii') + points.map((p) => p.join(' ')).join('\n') + '\n' +
  faces.map((f) => `3 ${f.join(' ')}`).join('\n') + '\n');
{
  const body = Buffer.alloc(4 * 12 + 4 * 13);
  let at = 0;
  for (const p of points) for (const c of p) at = body.writeFloatLE(c, at);
  for (const f of faces) {
    at = body.writeUInt8(3, at);
    for (const i of f) at = body.writeInt32LE(i, at);
  }
  write('tetra-binary.ply', Buffer.concat([Buffer.from(plyHeader('binary_little_endian')), body]));
}

// STL facets carry a normal; the corners alone decide the triangle.
const normal = (f) => {
  const [a, b, c] = f.map((i) => points[i]);
  const u = b.map((v, k) => v - a[k]);
  const w = c.map((v, k) => v - a[k]);
  return [u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]];
};
write('tetra-ascii.stl', 'solid tetra\n' + faces.map((f) => `facet normal ${normal(f).join(' ')}\n` +
  ` outer loop\n${f.map((i) => `  vertex ${points[i].join(' ')}\n`).join('')} endloop\nendfacet\n`)
  .join('') + 'endsolid tetra\n');
{
  const body = Buffer.alloc(84 + 50 * faces.length);
  body.write('binary tetrahedron', 0);
  let at = body.writeUInt32LE(faces.length, 80);
  for (const f of faces) {
    for (const c of normal(f)) at = body.writeFloatLE(c, at);
    for (const i of f) for (const c of points[i]) at = body.writeFloatLE(c, at);
    at = body.writeUInt16LE(0, at);
  }
  write('tetra-binary.stl', body);
}

// An L-shaped hexagon starting at the corner from which a fan of triangles
// overlaps itself, then a line and a point that a scene cannot show.
write('concave.obj', '# L-shaped hexagon\nv 1 2 0\nv 0 2 0\nv 0 0 0\nv 2 0 0\nv 2 1 0\nv 1 1 0\n' +
  'f 1 2 3 4 5 6\nl 1 3\np 2\n');

async function glb() {
  const io = new NodeIO().registerExtensions([KHRDracoMeshCompression]).registerDependencies({
    'draco3d.encoder': await draco3d.createEncoderModule(),
    'draco3d.decoder': await draco3d.createDecoderModule(),
  });
  const doc = new Document();
  const buffer = doc.createBuffer();
  // Stored as seen through the nodes below: x' = (x - 1) / -2, y' = (y - 2) / 2,
  // z' = (z - 3) / 2, with each face's winding reversed by the mirror.
  const stored = points.map(([x, y, z]) => [(x - 1) / -2, (y - 2) / 2, (z - 3) / 2]);
  const position = doc.createAccessor().setType('VEC3').setBuffer(buffer)
    .setArray(new Float32Array(stored.flat()));
  const indices = doc.createAccessor().setType('SCALAR').setBuffer(buffer)
    .setArray(new Uint16Array(faces.map(([a, b, c]) => [a, c, b]).flat()));
  const mesh = doc.createMesh('tetra')
    .addPrimitive(doc.createPrimitive().setAttribute('POSITION', position).setIndices(indices));
  const child = doc.createNode('mirrored').setMesh(mesh).setScale([-2, 2, 2]);
  const parent = doc.createNode('moved').setTranslation([1, 2, 3]).addChild(child);
  doc.createScene().addChild(parent);
  fs.writeFileSync(path.join(out, 'tetra.glb'), await io.writeBinary(doc));
  await doc.transform(draco({ method: 'edgebreaker' }));
  fs.writeFileSync(path.join(out, 'tetra-draco.glb'), await io.writeBinary(doc));
}

glb().catch((error) => {
  console.error(error);
  process.exit(1);
});
