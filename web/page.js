// web/page.js: the page's thread. It builds the controls from the settings table the module hands
// over, draws source and result at one zoom, and talks to the worker that owns the module (decode,
// reduce, progress, result). It never runs the engine itself, so it never freezes; 中止 ends the
// worker and starts a fresh one. document.body.dataset.state says what the page is doing, for
// people and for tests alike: loading, ready, decoding, working, done, curving, curve-done, stopped
// or failed.
'use strict';

// The most pixels the page takes on: the module's memory (at most 4 GB) holds the image about
// five times over plus the histogram, and the tab holds its own copies for drawing.
const MaxPixels = 50_000_000;

const $ = id => document.getElementById(id);
const page = {
    worker: null,
    settings: [],       // the table's rows, as the module describes them
    values: [],         // one value per row, in table order
    queue: [],          // files waiting, in drop order
    current: null,      // { name, width, height, rgba }
    result: null,       // the last result message of the worker
    resultImage: null,  // ImageData of the result, for the views
    nextId: 1,
    batch: [],          // finished files of a drop of several: { name, png }
    locked: [],         // colours the palette strip keeps for the next reductions, [R, G, B, A]
    curve: [],          // the colour curve's points: { colours, used, bytes, psnr, maxError }
};

function SetState(state, text, isError) {
    document.body.dataset.state = state;
    if (text !== undefined) {
        $('status').textContent = text;
        $('status').classList.toggle('error', !!isError);
    }
    const busy = state === 'decoding' || state === 'working' || state === 'curving';
    $('stop').disabled = !busy;
    $('preview').disabled = busy || !page.current || !page.worker;
    $('curve').disabled = $('preview').disabled;
    $('progress').hidden = !busy;
    document.body.dispatchEvent(new CustomEvent('tessaline-state', { detail: state }));
}

// ---- the controls, from the settings table -----------------------------------------------------

function FormatValue(row, position) {
    const shown = row.shown ? row.shown[position - row.low] : position;
    // The panel's printf formats only pad and prefix the number ("%3d", "1 / %7d").
    return (row.valueFormat || '%d').replace(/%\d*d/, String(shown));
}

function EffectiveOpacity() {
    const ie6 = page.settings.find(row => row.name === 'ie6');
    const opacity = page.settings.find(row => row.name === 'opacity');
    return ie6 && page.values[ie6.key] ? 238 : page.values[opacity.key];
}

function BuildControls() {
    const box = $('settings');
    box.textContent = '';
    for (const row of page.settings) {
        page.values[row.key] = row.default;
        if (!row.page)
            continue;
        const line = document.createElement('div');
        line.className = 'row';
        line.dataset.setting = row.name;
        if (row.kind === 'slider') {
            const label = document.createElement('label');
            const input = document.createElement('input');
            Object.assign(input, { type: 'range', min: row.low, max: row.high, value: row.default, id: 'setting-' + row.name });
            label.htmlFor = input.id;
            const show = () => { label.textContent = `${row.caption} : ${FormatValue(row, Number(input.value))}`; };
            input.addEventListener('input', () => { page.values[row.key] = Number(input.value); show(); });
            show();
            line.append(label, input);
        } else if (row.offCaption) {
            const group = document.createElement('fieldset');
            const legend = document.createElement('span');
            legend.textContent = row.caption;
            group.append(legend);
            for (const [value, caption] of [[0, row.offCaption], [1, row.onCaption]]) {
                const label = document.createElement('label');
                const input = document.createElement('input');
                Object.assign(input, { type: 'radio', name: 'setting-' + row.name, value, checked: value === row.default,
                                       id: `setting-${row.name}-${value}` });
                input.addEventListener('change', () => { page.values[row.key] = value; });
                label.append(input, ' ' + caption);
                group.append(label);
            }
            line.append(group);
        } else {
            // A switch, or a choice of two shown as a box: checked is the second choice.
            const label = document.createElement('label');
            const input = document.createElement('input');
            Object.assign(input, { type: 'checkbox', checked: row.default === 1, id: 'setting-' + row.name });
            input.addEventListener('change', () => { page.values[row.key] = input.checked ? 1 : 0; SyncControls(); });
            label.append(input, ' ' + row.caption);
            line.append(label);
        }
        box.append(line);
    }
    SyncControls();
}

// The panel's couplings: the IE6 box holds the opacity slider at 238; the dither map needs the
// contrast map.
function SyncControls() {
    const opacity = $('setting-opacity');
    const ie6 = $('setting-ie6');
    if (opacity && ie6) {
        opacity.disabled = ie6.checked;
        const row = page.settings.find(r => r.name === 'opacity');
        opacity.previousSibling.textContent = `${row.caption} : ${FormatValue(row, EffectiveOpacity())}`;
    }
    const contrast = $('setting-contrast-map');
    const ditherMap = $('setting-dither-map');
    if (contrast && ditherMap)
        ditherMap.disabled = !contrast.checked;
}

// ---- the worker ----------------------------------------------------------------------------------

function StartWorker() {
    const worker = new Worker('reduce_worker.js' + location.search);
    page.worker = worker;
    worker.onmessage = event => OnWorkerMessage(worker, event.data);
    worker.onerror = event => {
        event.preventDefault();
        OnWorkerCrash(worker);
    };
    return worker;
}

function OnWorkerCrash(worker) {
    if (worker !== page.worker)
        return;
    // An abort inside the module (memory exhausted) ends the worker, never the tab.
    worker.terminate();
    page.worker = null;
    StartWorker();
    SetState('failed', Texts.notReduced(page.current ? page.current.name : '', Texts.outOfMemory), true);
    NextInQueue();
}

function OnWorkerMessage(worker, message) {
    if (worker !== page.worker)
        return; // a stopped worker's late words
    if (message.type === 'ready') {
        const first = page.settings.length === 0;
        page.settings = message.settings;
        document.body.dataset.module = message.plain ? 'plain' : 'simd';
        if (first) {
            BuildControls();
            SetState('ready', Texts.ready);
            NextInQueue();
        } else if (document.body.dataset.state === 'stopped') {
            SetState('stopped');
        }
    } else if (message.type === 'progress') {
        $('progress').value = message.stage;
    } else if (message.type === 'decoded') {
        OnDecoded(message);
    } else if (message.type === 'result') {
        OnResult(message);
    } else if (message.type === 'curve-point') {
        page.curve.push(message.point);
        $('curve-state').textContent = Texts.curveMeasuring(page.curve.length, message.total);
        $('progress').value = Math.round(12 * page.curve.length / message.total);
        DrawCurve();
    } else if (message.type === 'curve') {
        OnCurve(message);
    } else if (message.type === 'failed' && message.fatal) {
        OnWorkerCrash(worker);
    } else if (message.type === 'failed') {
        const name = page.pendingName || '';
        SetState('failed', message.stage === 'decode' ? Texts.notRead(name, Texts.damaged)
                                                       : Texts.notReduced(name, message.message), true);
        NextInQueue();
    }
}

function Stop() {
    if (!page.worker)
        return;
    page.worker.terminate();
    page.queue.length = 0;
    StartWorker();
    SetState('stopped', Texts.stopped);
}

// ---- files ---------------------------------------------------------------------------------------

function AddFiles(files) {
    const images = [...files];
    if (images.length === 0)
        return;
    if (images.length > 1) {
        page.batch = [];
        $('batch-box').hidden = true;
    }
    page.batchSize = images.length;
    page.queue.push(...images);
    const state = document.body.dataset.state;
    if (state !== 'decoding' && state !== 'working' && state !== 'loading')
        NextInQueue();
}

function NextInQueue() {
    if (!page.worker || page.settings.length === 0)
        return;
    const file = page.queue.shift();
    if (!file) {
        if (page.batchSize > 1 && page.batch.length > 0)
            ShowBatch();
        return;
    }
    page.pendingName = file.name;
    $('progress').value = 1;
    SetState('decoding', Texts.loading);
    page.worker.postMessage({ type: 'decode', id: page.nextId++, file, maxPixels: MaxPixels });
}

function OnDecoded(message) {
    if (message.tooLarge) {
        SetState('failed', Texts.notRead(page.pendingName, Texts.tooLarge(message.width, message.height, MaxPixels)), true);
        NextInQueue();
        return;
    }
    page.locked = []; // another image: its own colours and its own curve
    page.curve = [];
    $('curve-box').hidden = true;
    page.current = { name: page.pendingName, width: message.width, height: message.height, rgba: message.rgba,
                     exact: message.exact, notes: message.notes || [] };
    page.result = null;
    page.resultImage = null;
    $('drop-hint').hidden = true;
    DrawViews();
    Reduce();
}

function Reduce() {
    const image = page.current;
    if (!image || !page.worker)
        return;
    $('progress').value = 1;
    SetState('working', Texts.ready);
    // A copy goes to the worker: the page keeps the source for drawing and the next preview.
    page.worker.postMessage({ type: 'reduce', id: page.nextId++, width: image.width, height: image.height,
                              rgba: image.rgba.slice(), values: page.values.slice(), kept: page.locked.slice() });
}

function OnResult(message) {
    const image = page.current;
    if (message.code !== 0) {
        SetState('failed', Texts.notReduced(image.name, message.code === 17 ? Texts.outOfMemory : String(message.code)), true);
        NextInQueue();
        return;
    }
    page.result = message;
    const rgba = new Uint8ClampedArray(image.width * image.height * 4);
    const palette = message.palette;
    for (let i = 0, n = image.width * image.height; i < n; i++) {
        const entry = palette[message.indices[i]];
        rgba[4 * i] = entry[0];
        rgba[4 * i + 1] = entry[1];
        rgba[4 * i + 2] = entry[2];
        rgba[4 * i + 3] = entry[3];
    }
    page.resultImage = new ImageData(rgba, image.width, image.height);
    const name = image.name.replace(/\.[^.]*$/, '') + '.png';
    const link = $('download');
    if (link.href)
        URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([message.png], { type: 'image/png' }));
    link.download = name;
    link.classList.remove('disabled');
    if (page.batchSize > 1)
        page.batch.push({ name, png: message.png });
    DrawViews();
    DrawPalette();
    $('figures').textContent = [Texts.psnr(message.psnr), Texts.colours(message.coloursUsed),
                                Texts.maxError(message.maxError), Texts.fileSize(message.png.length)].join(' | ');
    const notes = image.notes.map(note => Texts.pngNotes[note]);
    if (!image.exact)
        notes.push(Texts.notExact);
    SetState('done', [Texts.elapsed(message.ms), ...notes].join(' | '));
    NextInQueue();
}

// ---- the colour curve ----------------------------------------------------------------------------

function StartCurve() {
    const image = page.current;
    if (!image || !page.worker)
        return;
    page.curve = [];
    $('curve-box').hidden = false;
    $('curve-state').textContent = '';
    $('progress').value = 0;
    SetState('curving', Texts.colourCurve);
    page.worker.postMessage({ type: 'curve', id: page.nextId++, width: image.width, height: image.height,
                              rgba: image.rgba.slice(), values: page.values.slice(), kept: page.locked.slice() });
}

function OnCurve(message) {
    if (message.code !== 0) {
        $('curve-state').textContent = Texts.curveFailed;
        SetState('failed', Texts.notReduced(page.current.name, message.code === 17 ? Texts.outOfMemory : String(message.code)), true);
        return;
    }
    page.curve = message.points;
    $('curve-state').textContent = '';
    DrawCurve();
    SetState('curve-done', Texts.colourCurve);
}

// The curve's geometry: colours on a log scale across, size (blue) and PSNR (red) up, each on its
// own scale. An exact result (PSNR infinite) is drawn at the top.
function CurveLayout() {
    const canvas = $('curve-canvas');
    const left = 64, right = canvas.width - 80, top = 12, bottom = canvas.height - 24;
    const points = page.curve;
    const maxBytes = Math.max(1, ...points.map(p => p.bytes));
    const finite = points.filter(p => p.psnr !== null).map(p => p.psnr);
    const lowPsnr = finite.length ? Math.floor(Math.min(...finite)) : 0;
    const highPsnr = finite.length ? Math.ceil(Math.max(...finite)) + 1 : 1;
    const x = colours => left + (right - left) * Math.log2(colours / 2) / 7;
    const ySize = bytes => bottom - (bottom - top) * bytes / maxBytes;
    const yPsnr = psnr => psnr === null ? top : bottom - (bottom - top) * (psnr - lowPsnr) / Math.max(1, highPsnr - lowPsnr);
    return { canvas, left, right, top, bottom, maxBytes, lowPsnr, highPsnr, x, ySize, yPsnr };
}

function DrawCurve() {
    const g = CurveLayout();
    const c = g.canvas.getContext('2d');
    c.clearRect(0, 0, g.canvas.width, g.canvas.height);
    c.font = '11px sans-serif';
    c.strokeStyle = '#888';
    c.strokeRect(g.left, g.top, g.right - g.left, g.bottom - g.top);
    c.fillStyle = '#333';
    for (const colours of [2, 4, 8, 16, 32, 64, 128, 256])
        c.fillText(String(colours), g.x(colours) - 6, g.bottom + 13);
    c.fillText(Texts.curveColoursAxis, g.left - 30, g.bottom + 13);
    c.fillStyle = '#26c';
    c.fillText(`${Texts.curveSizeAxis} ${Texts.fileSize(g.maxBytes)}`, 2, g.top + 8);
    c.fillStyle = '#c22';
    c.fillText(`${Texts.curvePsnrAxis} ${g.highPsnr} dB`, g.right + 4, g.top + 8);
    c.fillText(`${g.lowPsnr} dB`, g.right + 4, g.bottom);
    for (const [colour, y] of [['#26c', p => g.ySize(p.bytes)], ['#c22', p => g.yPsnr(p.psnr)]]) {
        c.strokeStyle = c.fillStyle = colour;
        c.beginPath();
        page.curve.forEach((p, i) => (i ? c.lineTo : c.moveTo).call(c, g.x(p.colours), y(p)));
        c.stroke();
        for (const p of page.curve)
            c.fillRect(g.x(p.colours) - 2, y(p) - 2, 5, 5);
    }
}

function CurvePointAt(event) {
    if (!page.curve || page.curve.length === 0)
        return null;
    const g = CurveLayout();
    const bounds = g.canvas.getBoundingClientRect();
    const at = (event.clientX - bounds.left) * g.canvas.width / bounds.width;
    return page.curve.reduce((best, p) => Math.abs(g.x(p.colours) - at) < Math.abs(g.x(best.colours) - at) ? p : best);
}

function ShowBatch() {
    const list = $('batch');
    list.textContent = '';
    // One ZIP of every result, stored as they are (PNG data is compressed already); a name given
    // twice gets a number.
    const files = {};
    for (const item of page.batch) {
        let name = item.name;
        for (let n = 2; name in files; n++)
            name = item.name.replace(/\.png$/, `-${n}.png`);
        files[name] = [item.png, { level: 0 }];
    }
    const zip = $('download-zip');
    if (zip.href)
        URL.revokeObjectURL(zip.href);
    zip.href = URL.createObjectURL(new Blob([fflate.zipSync(files)], { type: 'application/zip' }));
    $('batch-box').hidden = false;
    for (const item of page.batch) {
        const entry = document.createElement('li');
        const link = document.createElement('a');
        link.href = URL.createObjectURL(new Blob([item.png], { type: 'image/png' }));
        link.download = item.name;
        link.textContent = `${item.name} (${Texts.fileSize(item.png.length)})`;
        entry.append(link);
        list.append(entry);
    }
}

// ---- drawing -------------------------------------------------------------------------------------

function DrawCanvas(canvas, imageData) {
    const zoom = Number($('zoom').value);
    canvas.width = imageData ? imageData.width : 0;
    canvas.height = imageData ? imageData.height : 0;
    canvas.style.width = `${canvas.width * zoom}px`;
    canvas.style.height = `${canvas.height * zoom}px`;
    if (imageData)
        canvas.getContext('2d').putImageData(imageData, 0, 0);
}

function DifferenceImage() {
    // The difference view shows each pixel's largest error over black and over white as a heat
    // map; the module measured it with the figures.
    const errors = page.result.errors;
    const out = new Uint8ClampedArray(errors.length * 4);
    for (let i = 0; i < errors.length; i++) {
        const level = Math.min(255, errors[i] * 8);
        out[4 * i] = level;
        out[4 * i + 1] = errors[i] ? 64 : 0;
        out[4 * i + 2] = 255 - level;
        out[4 * i + 3] = 255;
    }
    return new ImageData(out, page.current.width, page.current.height);
}

function DrawViews() {
    const image = page.current;
    const source = image ? new ImageData(new Uint8ClampedArray(image.rgba), image.width, image.height) : null;
    DrawCanvas($('source-canvas'), source);
    let right = page.resultImage;
    if (right && $('blink').checked)
        right = source;
    else if (right && $('difference').checked && page.result.errors)
        right = DifferenceImage();
    DrawCanvas($('result-canvas'), right);
}

function DrawPalette() {
    const strip = $('palette-strip');
    strip.textContent = '';
    if (!page.result)
        return;
    const isLocked = entry => page.locked.some(c => c.every((v, i) => v === entry[i]));
    page.result.palette.forEach((entry, index) => {
        const swatch = document.createElement('span');
        swatch.style.background = `rgba(${entry[0]}, ${entry[1]}, ${entry[2]}, ${entry[3] / 255})`;
        const show = () => {
            swatch.classList.toggle('locked', isLocked(entry));
            swatch.title = `#${index}  RGBA(${entry.join(', ')})${isLocked(entry) ? Texts.lockedEntry : ''}\n${Texts.lockTip}`;
        };
        // As the window's strip: a right click keeps the colour for the next reductions, or lets it go.
        swatch.addEventListener('contextmenu', event => {
            event.preventDefault();
            page.locked = isLocked(entry) ? page.locked.filter(c => !c.every((v, i) => v === entry[i]))
                                          : [...page.locked, entry.slice()];
            show();
        });
        show();
        strip.append(swatch);
    });
}

// Both views scroll together: the one the user moves leads.
function LinkScrolling() {
    const views = [$('source-view'), $('result-view')];
    let leading = null;
    for (const view of views) {
        view.addEventListener('scroll', () => {
            if (leading && leading !== view)
                return;
            leading = view;
            for (const other of views)
                if (other !== view) {
                    other.scrollLeft = view.scrollLeft;
                    other.scrollTop = view.scrollTop;
                }
            requestAnimationFrame(() => { leading = null; });
        });
    }
}

// ---- start ---------------------------------------------------------------------------------------

function Start() {
    document.title = Texts.title;
    $('open-text').textContent = Texts.open;
    $('preview').textContent = Texts.preview;
    $('stop').textContent = Texts.stop;
    $('download').textContent = Texts.download;
    $('download-zip').textContent = Texts.downloadZip;
    $('zoom-text').textContent = Texts.zoom + ' ';
    $('blink-text').textContent = Texts.blink;
    $('blink').parentElement.title = Texts.blinkTip;
    $('difference-text').textContent = Texts.difference;
    $('drop-hint').textContent = Texts.dropHere;
    $('limits').textContent = Texts.limits;

    if (typeof WebAssembly !== 'object') {
        SetState('failed', Texts.noWebAssembly, true);
        return;
    }
    $('open').addEventListener('change', event => { AddFiles(event.target.files); event.target.value = ''; });
    $('preview').addEventListener('click', Reduce);
    $('curve').addEventListener('click', StartCurve);
    $('curve').title = Texts.curveTip;
    $('curve').textContent = Texts.colourCurve;
    $('curve-canvas').addEventListener('mousemove', event => {
        const point = CurvePointAt(event);
        $('curve-canvas').title = point ? Texts.curvePoint(point) : Texts.curveTip;
    });
    // A point reduces at its count, as the window's curve does.
    $('curve-canvas').addEventListener('click', event => {
        const point = CurvePointAt(event);
        const slider = $('setting-colours');
        if (!point || !slider || $('preview').disabled)
            return;
        slider.value = point.colours;
        slider.dispatchEvent(new Event('input'));
        Reduce();
    });
    $('stop').addEventListener('click', Stop);
    $('zoom').addEventListener('change', DrawViews);
    $('blink').addEventListener('change', () => { $('difference').checked = false; DrawViews(); });
    $('difference').addEventListener('change', () => { $('blink').checked = false; DrawViews(); });
    // As in the window: the source shows in the result's place while the space bar is held.
    const holdSource = held => {
        if (!page.resultImage || $('blink').checked === held)
            return;
        $('blink').checked = held;
        DrawViews();
    };
    document.addEventListener('keydown', event => {
        if (event.code === 'Space' && !event.repeat && !(event.target instanceof HTMLInputElement)) {
            event.preventDefault();
            holdSource(true);
        }
    });
    document.addEventListener('keyup', event => {
        if (event.code === 'Space')
            holdSource(false);
    });
    document.addEventListener('dragover', event => { event.preventDefault(); document.body.classList.add('dragging'); });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', event => {
        event.preventDefault();
        document.body.classList.remove('dragging');
        AddFiles(event.dataTransfer.files);
    });
    LinkScrolling();
    StartWorker();
}

Start();
