// Wraps a raw Draco mesh (.drc, such as the full-resolution Stanford bunny
// that the npm package draco3d ships) into a Draco-compressed GLB file, the
// form in which meshes are usually downloaded.
//
//   NODE_PATH=<node_modules> node scripts/drc-to-glb.cjs in.drc out.glb
'use strict';
const fs = require('fs');
const { Document, NodeIO } = require('@gltf-transform/core');
const { KHRDracoMeshCompression } = require('@gltf-transform/extensions');
const { draco } = require('@gltf-transform/functions');
const draco3d = require('draco3d');

async function main([input, output]) {
  const decoderModule = await draco3d.createDecoderModule();
  const encoderModule = await draco3d.createEncoderModule();
  const decoder = new decoderModule.Decoder();
  const bytes = fs.readFileSync(input);
  const mesh = new decoderModule.Mesh();
  const status = decoder.DecodeArrayToMesh(bytes, bytes.length, mesh);
  if (!status.ok()) throw new Error(status.error_msg());

  const attribute = decoder.GetAttribute(mesh, decoder.GetAttributeId(mesh, decoderModule.POSITION));
  const pointCount = mesh.num_points();
  const positions = new decoderModule.DracoFloat32Array();
  decoder.GetAttributeFloatForAllPoints(mesh, attribute, positions);
  const xyz = new Float32Array(pointCount * 3);
  for (let i = 0; i < xyz.length; i++) xyz[i] = positions.GetValue(i);
  const corners = new Uint32Array(mesh.num_faces() * 3);
  const face = new decoderModule.DracoInt32Array();
  for (let f = 0; f < mesh.num_faces(); f++) {
    decoder.GetFaceFromMesh(mesh, f, face);
    for (let k = 0; k < 3; k++) corners[f * 3 + k] = face.GetValue(k);
  }

  const doc = new Document();
  const buffer = doc.createBuffer();
  const primitive = doc.createPrimitive()
    .setAttribute('POSITION', doc.createAccessor().setType('VEC3').setArray(xyz).setBuffer(buffer))
    .setIndices(doc.createAccessor().setType('SCALAR').setArray(corners).setBuffer(buffer));
  const node = doc.createNode('mesh').setMesh(doc.createMesh('mesh').addPrimitive(primitive));
  doc.createScene().addChild(node);
  await doc.transform(draco({ method: 'edgebreaker' }));
  const io = new NodeIO().registerExtensions([KHRDracoMeshCompression]).registerDependencies({
    'draco3d.encoder': encoderModule,
    'draco3d.decoder': decoderModule,
  });
  fs.writeFileSync(output, await io.writeBinary(doc));
  console.log(`${output}: ${pointCount} points, ${mesh.num_faces()} triangles`);
}

main(process.argv.slice(2)).catch((error) => {
  console.error(error);
  process.exit(1);
});
