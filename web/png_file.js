// web/png_file.js: frames the engine's palette PNG into a file. The chunks before the image data
// and the rows come from the module (the desktop writer's own layout); the rows are compressed by
// the browser's deflate, whose 'deflate' format is the zlib stream PNG's IDAT carries. Only the
// framing is here: each chunk's length, type, data and CRC-32, as the PNG format defines them.
'use strict';

const PngSignature = [137, 80, 78, 71, 13, 10, 26, 10];

// The CRC-32 of the PNG format (polynomial 0xEDB88320), over the chunk's type and data.
const CrcTable = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++)
            c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c >>> 0;
    }
    return table;
})();

function Crc32(bytes) {
    let c = 0xffffffff;
    for (let i = 0; i < bytes.length; i++)
        c = CrcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

function Chunk(type, data) {
    const out = new Uint8Array(12 + data.length);
    const view = new DataView(out.buffer);
    view.setUint32(0, data.length);
    for (let i = 0; i < 4; i++)
        out[4 + i] = type.charCodeAt(i);
    out.set(data, 8);
    view.setUint32(8 + data.length, Crc32(out.subarray(4, 8 + data.length)));
    return out;
}

async function Deflate(bytes) {
    const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
}

// IDAT chunks of at most this many bytes, as the desktop writes them.
const IdatChunkBytes = 1 << 20;

/// The PNG file: `chunks` ({type, data}) before the image data, then `rows` deflated into IDAT
/// chunks, then IEND.
async function PalettePngFile(chunks, rows) {
    const compressed = await Deflate(rows);
    const parts = [new Uint8Array(PngSignature)];
    for (const chunk of chunks)
        parts.push(Chunk(chunk.type, Uint8Array.from(chunk.data)));
    for (let offset = 0; offset < compressed.length; offset += IdatChunkBytes)
        parts.push(Chunk('IDAT', compressed.subarray(offset, Math.min(offset + IdatChunkBytes, compressed.length))));
    parts.push(Chunk('IEND', new Uint8Array(0)));
    const file = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
    let at = 0;
    for (const part of parts) {
        file.set(part, at);
        at += part.length;
    }
    return file;
}
