// image-q's Wu palette with its default colour distance, for bench/peers.sh.
//   node image_q_wu.js IN.png OUT.png floyd-steinberg|nearest [COLOURS]
// Writes an RGBA PNG holding at most COLOURS (256) distinct colours.
'use strict';
const fs = require('fs');
const { PNG } = require('pngjs');
const iq = require('image-q');

const [input, output, dither = 'floyd-steinberg', colours = '256'] = process.argv.slice(2);
const png = PNG.sync.read(fs.readFileSync(input));
const points = iq.utils.PointContainer.fromUint8Array(png.data, png.width, png.height);
const palette = iq.buildPaletteSync([points], { paletteQuantization: 'wuquant', colors: Number(colours) });
const result = iq.applyPaletteSync(points, palette, { imageQuantization: dither });
const out = new PNG({ width: png.width, height: png.height });
out.data = Buffer.from(result.toUint8Array());
fs.writeFileSync(output, PNG.sync.write(out));
