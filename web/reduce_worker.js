// web/reduce_worker.js: the Web Worker that owns the engine's module. The page posts it files to
// decode and images to reduce; it answers with the settings table once the module is ready, the
// decoded pixels, each stage of a reduction, and the result with its PNG file. The page stops a
// reduction by ending this worker and starting another.
'use strict';

// The SIMD module where the browser runs WebAssembly SIMD (a v128 function validates), the plain
// one elsewhere; "?module=plain" on the page asks for the plain one anyway.
const SimdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0,
                                  65, 0, 253, 15, 253, 98, 11]);
const plain = new URLSearchParams(self.location.search).get('module') === 'plain' || !WebAssembly.validate(SimdProbe);
importScripts(plain ? 'tessaline-plain.js' : 'tessaline.js', 'png_file.js');

let module = null;

// Decodes a file into straight-alpha R, G, B, A bytes as they are stored, without the browser's
// colour management. WebGL hands the decoded texels over unpremultiplied and exactly; a 2D canvas
// keeps premultiplied pixels, which loses the colour of faint translucent pixels, so it is only the
// fallback where WebGL is missing or the image exceeds its texture size.
async function Decode(file) {
    const options = { premultiplyAlpha: 'none', colorSpaceConversion: 'none', imageOrientation: 'from-image' };
    const bitmap = await createImageBitmap(file, options);
    const { width, height } = bitmap;
    try {
        if (width * height > self.maxPixels)
            return { width, height, tooLarge: true };
        const viaWebGl = DecodeWithWebGl(bitmap);
        if (viaWebGl)
            return { width, height, rgba: viaWebGl, exact: true };
        const canvas = new OffscreenCanvas(width, height);
        const context = canvas.getContext('2d', { willReadFrequently: true });
        context.drawImage(bitmap, 0, 0);
        return { width, height, rgba: new Uint8Array(context.getImageData(0, 0, width, height).data.buffer), exact: false };
    } finally {
        bitmap.close();
    }
}

function DecodeWithWebGl(bitmap) {
    const canvas = new OffscreenCanvas(1, 1);
    const gl = canvas.getContext('webgl2', { failIfMajorPerformanceCaveat: false });
    if (!gl)
        return null;
    try {
        const limit = gl.getParameter(gl.MAX_TEXTURE_SIZE);
        if (bitmap.width > limit || bitmap.height > limit)
            return null;
        gl.pixelStorei(gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
        gl.pixelStorei(gl.UNPACK_COLORSPACE_CONVERSION_WEBGL, gl.NONE);
        gl.pixelStorei(gl.UNPACK_FLIP_Y_WEBGL, false);
        const texture = gl.createTexture();
        gl.bindTexture(gl.TEXTURE_2D, texture);
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, gl.RGBA, gl.UNSIGNED_BYTE, bitmap);
        const framebuffer = gl.createFramebuffer();
        gl.bindFramebuffer(gl.FRAMEBUFFER, framebuffer);
        gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, texture, 0);
        if (gl.checkFramebufferStatus(gl.FRAMEBUFFER) !== gl.FRAMEBUFFER_COMPLETE)
            return null;
        const rgba = new Uint8Array(bitmap.width * bitmap.height * 4);
        gl.readPixels(0, 0, bitmap.width, bitmap.height, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
        return gl.getError() === gl.NO_ERROR ? rgba : null;
    } finally {
        const lose = gl.getExtension('WEBGL_lose_context');
        if (lose)
            lose.loseContext();
    }
}

// What the browser's decoding drops from a PNG that the desktop would use: 16-bit samples, a
// colour profile, a gamma other than the one results are written with. Read from the chunk list
// alone (lengths and types up to the image data); other formats say nothing.
// Also gives a PNG's size from its header, so that one too large is refused before the browser
// decodes it. Null for other files.
async function PngHead(file) {
    const head = new Uint8Array(await file.slice(0, 1 << 16).arrayBuffer());
    const signature = [137, 80, 78, 71, 13, 10, 26, 10];
    if (head.length < 33 || signature.some((b, i) => head[i] !== b))
        return null;
    const view = new DataView(head.buffer);
    const width = view.getUint32(16), height = view.getUint32(20);
    const notes = [];
    if (head[24] === 16)
        notes.push('16bit');
    for (let at = 8; at + 8 <= head.length;) {
        const length = view.getUint32(at);
        const type = String.fromCharCode(...head.subarray(at + 4, at + 8));
        if (type === 'IDAT')
            break;
        if (type === 'iCCP')
            notes.push('profile');
        if (type === 'gAMA' && at + 12 <= head.length && view.getUint32(at + 8) !== 45455)
            notes.push('gamma');
        at += 12 + length;
    }
    return { width, height, notes };
}

// Copies a request's image, settings values and locked colours into the module's memory, calls
// `call` with the arguments the module's entries take (pixels, width, height, values, value count,
// colours, colour count) and frees them again. Gives `call`'s code, or 17 (out of memory) when they
// do not fit.
function CallWithInputs(message, call) {
    const { width, height, rgba, values, kept } = message;
    const count = module._TessalineSettingCount();
    const pixels = module._malloc(rgba.length);
    const settings = module._malloc(4 * count);
    const keptAt = module._malloc(4 * kept.length + 4);
    let code = 17;
    if (pixels && settings && keptAt) {
        module.HEAPU8.set(rgba, pixels);
        module.HEAP32.set(Int32Array.from(values), settings / 4);
        module.HEAPU8.set(kept.flat(), keptAt);
        code = call(pixels, width, height, settings, count, keptAt, kept.length);
    }
    module._free(pixels);
    module._free(settings);
    module._free(keptAt);
    return code;
}

async function Reduce(message) {
    const { width, height } = message;
    const start = performance.now();
    if (CallWithInputs(message, module._TessalineReduce) === 17)
        return { code: 17 };
    const ms = Math.round(performance.now() - start);
    const result = JSON.parse(module.UTF8ToString(module._TessalineResultJson()));
    result.ms = ms;
    if (result.code !== 0)
        return result;
    result.indices = module.HEAPU8.slice(module._TessalineResultIndices(),
                                         module._TessalineResultIndices() + width * height);
    const errorsAt = module._TessalineResultErrors();
    if (errorsAt)
        result.errors = module.HEAPU8.slice(errorsAt, errorsAt + width * height);
    const rowsAt = module._TessalineResultRows();
    const rows = module.HEAPU8.slice(rowsAt, rowsAt + module._TessalineResultRowsBytes());
    module._TessalineRelease();
    result.png = await PalettePngFile(result.chunks, rows);
    return result;
}

// The colour curve: the image prepared once, then each count of the desktop's list finished,
// measured and its file made, so that the sizes are those of the files the page writes.
async function MeasureCurve(message) {
    const code = CallWithInputs(message, module._TessalineCurveStart);
    if (code !== 0)
        return { code };
    const counts = JSON.parse(module.UTF8ToString(module._TessalineCurveCounts()));
    const points = [];
    for (const colours of counts) {
        const pointCode = module._TessalineCurveAt(colours);
        if (pointCode !== 0) {
            module._TessalineCurveEnd();
            return { code: pointCode };
        }
        const result = JSON.parse(module.UTF8ToString(module._TessalineResultJson()));
        const rowsAt = module._TessalineResultRows();
        const png = await PalettePngFile(result.chunks, module.HEAPU8.slice(rowsAt, rowsAt + module._TessalineResultRowsBytes()));
        module._TessalineRelease();
        const point = { colours, used: result.coloursUsed, bytes: png.length, psnr: result.psnr, maxError: result.maxError };
        points.push(point);
        postMessage({ type: 'curve-point', id: message.id, point, total: counts.length });
    }
    module._TessalineCurveEnd();
    return { code: 0, points };
}

const ready = TessalineModule({ onStage: stage => postMessage({ type: 'progress', stage }) }).then(loaded => {
    module = loaded;
    postMessage({ type: 'ready', plain, settings: JSON.parse(module.UTF8ToString(module._TessalineSettingsJson())) });
});

self.maxPixels = Infinity;

onmessage = async event => {
    const message = event.data;
    await ready;
    try {
        if (message.type === 'decode') {
            self.maxPixels = message.maxPixels;
            const png = await PngHead(message.file);
            if (png && png.width * png.height > self.maxPixels) {
                postMessage({ type: 'decoded', id: message.id, width: png.width, height: png.height, tooLarge: true });
                return;
            }
            const decoded = await Decode(message.file);
            decoded.notes = png ? png.notes : [];
            postMessage({ type: 'decoded', id: message.id, ...decoded }, decoded.rgba ? [decoded.rgba.buffer] : []);
        } else if (message.type === 'curve') {
            postMessage({ type: 'curve', id: message.id, ...(await MeasureCurve(message)) });
        } else if (message.type === 'reduce') {
            const result = await Reduce(message);
            const transfer = result.png ? [result.png.buffer, result.indices.buffer] : [];
            if (result.errors)
                transfer.push(result.errors.buffer);
            postMessage({ type: 'result', id: message.id, ...result }, transfer);
        }
    } catch (error) {
        // The module aborts when its memory cannot grow any further; it cannot be used again, so
        // the page replaces this worker.
        const fatal = error instanceof WebAssembly.RuntimeError || /Aborted/.test(String(error));
        postMessage({ type: 'failed', id: message.id, stage: message.type, fatal,
                      message: String(error && error.message || error) });
    }
};
