// tests/web/web_page.test.mjs: the web page in a real browser (Debian's chromium, headless,
// through puppeteer-core), compared with tessaline-cli on the project's own test card. The page is
// served from build/web by a small static server here. Skipped with a message when chromium, the
// built page or the tools are missing.
//
//   TESSALINE_WEB_DIR    the built page (default: build/web)
//   TESSALINE_BUILD_DIR  the native build with tessaline-cli and tessaline-make-sample (build/release)
//   CHROMIUM             the browser (default: /usr/bin/chromium)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import http from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webDir = process.env.TESSALINE_WEB_DIR || path.join(root, 'build/web');
const buildDir = process.env.TESSALINE_BUILD_DIR || path.join(root, 'build/release');
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const cli = path.join(buildDir, 'cli/tessaline-cli');
const makeSample = path.join(buildDir, 'cli/tessaline-make-sample');

const missing = [[chromium, 'chromium'], [path.join(webDir, 'tessaline.wasm'), 'the built page (scripts/build_web.sh)'],
                 [cli, 'tessaline-cli'], [makeSample, 'tessaline-make-sample']]
    .filter(([file]) => !existsSync(file)).map(([, what]) => what);
const skip = missing.length ? `skipped: no ${missing.join(', ')}` : false;

// ---- palette PNGs, decoded to what the comparison needs ------------------------------------------

/// The palette (R, G, B, A per entry, alphas from tRNS) and one index per pixel of a palette PNG
/// whose rows are all unfiltered, as both writers write them.
function DecodePalettePng(bytes) {
    assert.deepEqual([...bytes.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10], 'PNG signature');
    const chunks = [];
    for (let at = 8; at < bytes.length;) {
        const length = bytes.readUInt32BE(at);
        chunks.push({ type: bytes.toString('latin1', at + 4, at + 8), data: bytes.subarray(at + 8, at + 8 + length) });
        at += 12 + length;
    }
    const header = chunks[0].data;
    const width = header.readUInt32BE(0);
    const height = header.readUInt32BE(4);
    const depth = header[8];
    assert.equal(header[9], 3, 'colour type: palette');
    const plte = chunks.find(c => c.type === 'PLTE').data;
    const trns = chunks.find(c => c.type === 'tRNS');
    const palette = [];
    for (let i = 0; i < plte.length / 3; i++)
        palette.push([plte[3 * i], plte[3 * i + 1], plte[3 * i + 2], trns && i < trns.data.length ? trns.data[i] : 255]);
    const raw = zlib.inflateSync(Buffer.concat(chunks.filter(c => c.type === 'IDAT').map(c => c.data)));
    const rowBytes = Math.ceil(width * depth / 8);
    const indices = new Uint8Array(width * height);
    for (let y = 0; y < height; y++) {
        assert.equal(raw[y * (rowBytes + 1)], 0, 'unfiltered row');
        const row = raw.subarray(y * (rowBytes + 1) + 1);
        for (let x = 0; x < width; x++) {
            const bit = x * depth;
            indices[y * width + x] = (row[bit >> 3] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1);
        }
    }
    const gama = chunks.find(c => c.type === 'gAMA');
    return { width, height, depth, palette, indices, transparent: trns ? trns.data.length : 0,
             gamma: gama ? gama.data.readUInt32BE(0) : null, types: chunks.map(c => c.type) };
}

function AssertSameResult(page, native, label) {
    assert.equal(page.width, native.width, label);
    assert.equal(page.height, native.height, label);
    assert.equal(page.depth, native.depth, `${label}: bit depth`);
    assert.equal(page.gamma, native.gamma, `${label}: gAMA`);
    assert.equal(page.transparent, native.transparent, `${label}: tRNS length`);
    assert.deepEqual(page.palette, native.palette, `${label}: palette`);
    const differing = page.indices.findIndex((index, i) => index !== native.indices[i]);
    assert.equal(differing, -1, `${label}: first differing index at pixel ${differing}`);
    assert.deepEqual(page.types.filter(t => t !== 'IDAT'), native.types.filter(t => t !== 'IDAT'), `${label}: chunks`);
}

// ---- the browser and the page --------------------------------------------------------------------

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
                '.wasm': 'application/wasm' };

function Serve(folder) {
    const server = http.createServer((request, response) => {
        const name = path.join(folder, path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)));
        const file = name.endsWith('/') ? path.join(name, 'index.html') : name;
        if (!file.startsWith(folder) || !existsSync(file)) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
        response.end(readFileSync(file));
    });
    return new Promise(resolve => server.listen(0, '127.0.0.1', () => resolve(server)));
}

let browser, server, url, scratch, card, page;
const problems = []; // console errors and uncaught exceptions of the page

async function OpenPage() {
    const opened = await browser.newPage();
    opened.on('console', message => {
        if (message.type() === 'error')
            problems.push(message.text());
    });
    opened.on('pageerror', error => problems.push(error.message));
    await opened.goto(url);
    await opened.waitForFunction(() => document.body.dataset.state === 'ready');
    return opened;
}

/// Drops `bytes` on the page as a file named `name` (or several: [[name, bytes], ...]), as a file
/// manager's drop arrives.
async function Drop(name, bytes) {
    const files = Array.isArray(name) ? name : [[name, bytes]];
    await page.evaluate(files => {
        const transfer = new DataTransfer();
        for (const [name, base64] of files)
            transfer.items.add(new File([Uint8Array.from(atob(base64), c => c.charCodeAt(0))], name, { type: 'image/png' }));
        document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, files.map(([n, b]) => [n, Buffer.from(b).toString('base64')]));
}

/// Waits for the page to end its work: 'done' or 'failed', or what `states` names.
async function Settled(states = ['done', 'failed']) {
    await page.waitForFunction(wanted => wanted.includes(document.body.dataset.state), { timeout: 120000 }, states);
    return page.evaluate(() => ({ state: document.body.dataset.state, status: document.getElementById('status').textContent }));
}

async function DownloadedPng() {
    const base64 = await page.evaluate(async () => {
        const bytes = new Uint8Array(await (await fetch(document.getElementById('download').href)).arrayBuffer());
        let text = '';
        for (const byte of bytes)
            text += String.fromCharCode(byte);
        return btoa(text);
    });
    return DecodePalettePng(Buffer.from(base64, 'base64'));
}

function NativeResult(flags, input = card) {
    const out = path.join(scratch, `native-${flags.join('_') || 'default'}.png`);
    execFileSync(cli, ['--quiet', ...flags, '-o', out, input]);
    return DecodePalettePng(readFileSync(out));
}

describe('the web page', { skip }, () => {
    before(async () => {
        const { default: puppeteer } = await import('puppeteer-core');
        scratch = mkdtempSync(path.join(tmpdir(), 'tessaline-web-'));
        card = path.join(scratch, 'card.png');
        execFileSync(makeSample, [card, '160', '120']);
        server = await Serve(path.resolve(webDir));
        url = `http://127.0.0.1:${server.address().port}/`;
        browser = await puppeteer.launch({ executablePath: chromium, headless: true,
                                           args: ['--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader'] });
        page = await OpenPage();
    });
    after(async () => {
        await browser?.close();
        server?.close();
        if (scratch)
            rmSync(scratch, { recursive: true, force: true });
    });

    test('loads with no console errors and controls built from the settings table', async () => {
        assert.deepEqual(problems, []);
        const controls = await page.evaluate(() => [...document.querySelectorAll('#settings [data-setting]')]
            .map(row => row.dataset.setting));
        // The window's panel rows that need nothing but a value; the user weight and the palettes
        // from outside are not offered.
        for (const name of ['colours', 'opacity', 'ie6', 'dither', 'transparent-last', 'contrast-map', 'dither-map',
                            'fast-histogram', 'histogram', 'feedback', 'voronoi', 'convergence', 'tune'])
            assert.ok(controls.includes(name), name);
        assert.ok(!controls.includes('user-weight') && !controls.includes('compression'));
        assert.match(await page.$eval('label[for=setting-convergence]', l => l.textContent), /ボロノイ分割収束誤差 : 1 \/ 4194304/);
    });

    test('a dropped PNG with alpha gives the CLI\'s palette, transparency and indices', async () => {
        await Drop('card.png', readFileSync(card));
        assert.equal((await Settled()).state, 'done');
        const result = await DownloadedPng();
        assert.ok(result.transparent > 0, 'the card has translucent entries');
        AssertSameResult(result, NativeResult([]), 'default settings');
        assert.equal(await page.$eval('#download', a => a.download), 'card.png');
        assert.match(await page.$eval('#figures', f => f.textContent), /dB \| \d+ 色 \| 最大誤差 \d+ \| \d+ (B|KB)/);
    });

    test('the space bar shows the source in the result\'s place, 差分 the errors', async () => {
        const pixels = id => page.evaluate(id => {
            const canvas = document.getElementById(id);
            return Array.from(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data);
        }, id);
        const source = await pixels('source-canvas');
        const result = await pixels('result-canvas');
        assert.notDeepEqual(result, source);
        await page.keyboard.down('Space');
        assert.deepEqual(await pixels('result-canvas'), source);
        await page.keyboard.up('Space');
        assert.deepEqual(await pixels('result-canvas'), result);
        await page.click('#difference');
        const errors = await pixels('result-canvas');
        assert.ok(errors.every((v, i) => i % 4 !== 3 || v === 255), 'the heat map is opaque');
        assert.notDeepEqual(errors, result);
        await page.click('#difference');
        assert.deepEqual(await pixels('result-canvas'), result);
    });

    test('the plain module (for browsers without SIMD) gives the same result', async () => {
        const plain = await browser.newPage();
        plain.on('pageerror', error => problems.push(error.message));
        await plain.goto(url + '?module=plain');
        await plain.waitForFunction(() => document.body.dataset.state === 'ready');
        assert.equal(await plain.evaluate(() => document.body.dataset.module), 'plain');
        assert.equal(await page.evaluate(() => document.body.dataset.module), 'simd');
        const shown = page;
        page = plain;
        try {
            await Drop('card.png', readFileSync(card));
            assert.equal((await Settled()).state, 'done');
            AssertSameResult(await DownloadedPng(), NativeResult([]), 'plain module');
        } finally {
            page = shown;
            await plain.close();
        }
    });

    test('panel controls change the result as the CLI\'s flags do', async () => {
        const cases = [
            { label: '色数 16', flags: ['--colours', '16'],
              set: () => { const s = document.getElementById('setting-colours'); s.value = 16; s.dispatchEvent(new Event('input')); } },
            { label: 'orderd', flags: ['--colours', '16', '--no-dither'],
              set: () => document.getElementById('setting-dither-0').click() },
            { label: 'IE6不具合回避', flags: ['--colours', '16', '--no-dither', '--ie6'],
              set: () => document.getElementById('setting-ie6').click() },
            { label: '知覚的な色差', flags: ['--colours', '16', '--no-dither', '--ie6', '--tune', 'perceptual'],
              set: () => document.getElementById('setting-tune').click() },
            { label: 'コントラストマップ off', flags: ['--colours', '16', '--no-dither', '--ie6', '--tune', 'perceptual',
                                                 '--no-contrast-map'],
              set: () => document.getElementById('setting-contrast-map').click() },
        ];
        for (const c of cases) {
            await page.evaluate(c.set);
            await page.click('#preview');
            assert.equal((await Settled()).state, 'done', c.label);
            AssertSameResult(await DownloadedPng(), NativeResult(c.flags), c.label);
        }
    });

    test('colours locked on the palette strip are kept as --keep keeps them', async () => {
        // The panel as the previous group left it.
        const flags = ['--colours', '16', '--no-dither', '--ie6', '--tune', 'perceptual', '--no-contrast-map'];
        const locked = await page.evaluate(() => {
            const swatches = document.querySelectorAll('#palette-strip span');
            return [1, 5].map(i => {
                swatches[i].dispatchEvent(new MouseEvent('contextmenu', { bubbles: true, cancelable: true }));
                return swatches[i].title.match(/RGBA\(([^)]*)\)/)[1].split(', ').map(Number);
            });
        });
        assert.equal(await page.$$eval('#palette-strip span.locked', s => s.length), 2);
        await page.click('#preview');
        assert.equal((await Settled()).state, 'done');
        const result = await DownloadedPng();
        const hex = c => '#' + c.map(v => v.toString(16).padStart(2, '0')).join('');
        AssertSameResult(result, NativeResult([...flags, ...locked.flatMap(c => ['--keep', hex(c)])]), 'locked colours');
        for (const colour of locked)
            assert.ok(result.palette.some(e => e.every((v, i) => v === colour[i])), `${colour} kept`);
    });

    test('a drop of several files gives each result and a ZIP of them all', async () => {
        const bytes = readFileSync(card);
        await Drop([['one.png', bytes], ['broken.png', bytes.subarray(0, 100)], ['two.png', bytes]]);
        await page.waitForFunction(() => !document.getElementById('batch-box').hidden, { timeout: 120000 });
        const batch = await page.evaluate(async () => {
            const zip = new Uint8Array(await (await fetch(document.getElementById('download-zip').href)).arrayBuffer());
            const files = fflate.unzipSync(zip);
            const links = [...document.querySelectorAll('#batch a')];
            const sizes = await Promise.all(links.map(async a => (await (await fetch(a.href)).arrayBuffer()).byteLength));
            return { names: Object.keys(files), zipSizes: Object.values(files).map(f => f.length), links: links.map(a => a.download), sizes };
        });
        assert.deepEqual(batch.names, ['one.png', 'two.png']);
        assert.deepEqual(batch.links, ['one.png', 'two.png']);
        assert.deepEqual(batch.zipSizes, batch.sizes);
        assert.equal(batch.sizes[0], batch.sizes[1]); // the same image gives the same file
    });

    test('中止 stops a reduction of 16 megapixels within a second, and the page goes on', async () => {
        const large = path.join(scratch, 'large.png');
        execFileSync(makeSample, [large, '4096', '4096']);
        await Drop('large.png', readFileSync(large));
        // The engine is at work once it reports its histogram stage.
        await page.waitForFunction(() => document.body.dataset.state === 'working' &&
                                         document.getElementById('progress').value >= 4, { timeout: 120000 });
        const elapsed = await page.evaluate(() => new Promise(resolve => {
            const start = performance.now();
            document.body.addEventListener('tessaline-state', function heard(event) {
                if (event.detail === 'stopped') {
                    document.body.removeEventListener('tessaline-state', heard);
                    resolve(performance.now() - start);
                }
            });
            document.getElementById('stop').click();
        }));
        assert.ok(elapsed < 1000, `stopped after ${elapsed} ms`);
        assert.equal(await page.$eval('#status', s => s.textContent), '中止しました');
        // The fresh worker takes the next file.
        await Drop('card.png', readFileSync(card));
        assert.equal((await Settled()).state, 'done');
    });

    test('a 16-bit PNG is reduced, and the page says it was read at 8 bits', async t => {
        const deep = path.join(scratch, 'deep.png');
        try {
            execFileSync('convert', [card, `PNG64:${deep}`]); // ImageMagick, as scripts/bootstrap.sh installs it
        } catch {
            t.skip('no ImageMagick to write a 16-bit PNG');
            return;
        }
        await Drop('deep.png', readFileSync(deep));
        const { state, status } = await Settled();
        assert.equal(state, 'done');
        assert.match(status, /16 ビット PNG を 8 ビットで読みました/);
        assert.doesNotMatch(status, /gAMA/); // ImageMagick's gAMA is the one results are written with
    });

    test('the colour curve gives the CLI\'s figures, and a point reduces at its count', async () => {
        await page.reload();
        await page.waitForFunction(() => document.body.dataset.state === 'ready');
        await Drop('card.png', readFileSync(card));
        assert.equal((await Settled()).state, 'done');
        await page.click('#curve');
        await Settled(['curve-done', 'failed']);
        const curve = await page.evaluate(() => page.curve);
        assert.deepEqual(curve.map(p => p.colours), [2, 4, 8, 16, 24, 32, 48, 64, 96, 128, 192, 256]);
        // The tool prints: colours, used, bytes, PSNR (one decimal) and the largest error.
        const printed = execFileSync(cli, ['--curve', '16,64', '-o', path.join(scratch, 'curve.png'), card], { encoding: 'utf8' });
        for (const colours of [16, 64]) {
            const [, used, , psnr, maxError] = printed.match(new RegExp(`^\\s+${colours}\\s+(\\d+)\\s+(\\d+)\\s+([\\d.]+) dB\\s+(\\d+)`, 'm'));
            const point = curve.find(p => p.colours === colours);
            assert.equal(point.used, Number(used), `${colours}: colours used`);
            assert.equal(point.maxError, Number(maxError), `${colours}: largest error`);
            assert.equal(point.psnr.toFixed(1), psnr, `${colours}: PSNR`);
        }
        // A click on the point at 16 reduces at 16 colours: the CLI's --colours 16 result.
        await page.evaluate(() => {
            const canvas = document.getElementById('curve-canvas');
            const layout = CurveLayout();
            const bounds = canvas.getBoundingClientRect();
            canvas.dispatchEvent(new MouseEvent('click', { clientX: bounds.left + layout.x(16) * bounds.width / canvas.width,
                                                           clientY: bounds.top + 20, bubbles: true }));
        });
        assert.equal((await Settled()).state, 'done');
        AssertSameResult(await DownloadedPng(), NativeResult(['--colours', '16']), 'curve point 16');
    });

    test('a damaged or too large file gives a Japanese message and the page keeps working', async () => {
        const bytes = readFileSync(card);
        for (const [name, damaged] of [['cut.png', bytes.subarray(0, bytes.length / 2)],
                                       ['noise.png', Buffer.from('not an image at all')]]) {
            await Drop(name, damaged);
            const { state, status } = await Settled();
            assert.equal(state, 'failed', name);
            assert.match(status, new RegExp(`読み込めません : ${name.replace('.', '\\.')} \\(画像として読めません`), name);
        }
        // A PNG whose header claims 100 megapixels is refused before anything is decoded.
        const huge = Buffer.from(bytes.subarray(0, 33));
        huge.writeUInt32BE(10000, 16);
        huge.writeUInt32BE(10000, 20);
        await Drop('huge.png', huge);
        const { state, status } = await Settled();
        assert.equal(state, 'failed');
        assert.match(status, /読み込めません : huge\.png \(画像が大きすぎます \(10000 x 10000 画素\)。このページで扱えるのは 50 メガ画素までです\)/);
        await Drop('card.png', bytes);
        assert.equal((await Settled()).state, 'done');
        assert.deepEqual(problems, []);
    });
});
