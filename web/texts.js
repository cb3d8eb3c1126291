// web/texts.js: every text the page shows, in the window's own words where the window has them.
'use strict';

const Texts = {
    title: 'Tessaline',
    ready: 'レディ',
    loading: '読み込み中...',
    open: '開く...',
    dropHere: '画像ファイルをここにドロップするか、「開く...」で選んでください',
    preview: 'プレビュー',
    stop: '中止',
    stopped: '中止しました',
    download: '保存',
    downloadZip: 'まとめて保存 (ZIP)',
    zoom: '表示拡大率',
    blink: '元画像',
    blinkTip: '結果の位置に元画像を表示します (スペースキーを押している間も)',
    difference: '差分',
    elapsed: ms => `処理時間 : ${ms} ms `,
    psnr: psnr => (psnr === null ? '∞ dB' : `${psnr.toFixed(1)} dB`),
    colours: n => `${n} 色`,
    maxError: n => `最大誤差 ${n}`,
    fileSize: bytes => (bytes < 1024 ? `${bytes} B`
                        : bytes < 1024 * 1024 ? `${Math.round(bytes / 1024)} KB`
                                              : `${(bytes / (1024 * 1024)).toFixed(1)} MB`),
    notRead: (file, reason) => `読み込めません : ${file} (${reason})`,
    notReduced: (file, reason) => `減色できません : ${file} (${reason})`,
    damaged: '画像として読めません。壊れているか、このブラウザーが対応していない形式です',
    tooLarge: (w, h, limit) =>
        `画像が大きすぎます (${w} x ${h} 画素)。このページで扱えるのは ${Math.round(limit / 1e6)} メガ画素までです`,
    outOfMemory: 'メモリが足りません。小さな画像で試すか、デスクトップ版をお使いください',
    notExact: 'このブラウザーでは WebGL が使えないため、半透明の画素の色がわずかに変わることがあります',
    limits: 'ブラウザーが画像を読みます: 16 ビット PNG は 8 ビットに、カラープロファイルと gAMA は無視されます (デスクトップ版は適用します)。' +
            'JPEG の色はブラウザーの復号によりデスクトップ版とわずかに違うことがあります。',
    pngNotes: {
        '16bit': '16 ビット PNG を 8 ビットで読みました (デスクトップ版は 16 ビットから減色します)',
        profile: 'カラープロファイルを無視しました (デスクトップ版は sRGB に変換します)',
        gamma: 'gAMA を無視しました (デスクトップ版は適用します)',
    },
    colourCurve: '色数カーブ',
    curveTip: '色数ごとのファイルサイズと PSNR (点をクリックするとその色数で減色します)',
    curveMeasuring: (done, total) => `計算中... ${done} / ${total}`,
    curveFailed: 'カーブを計算できません',
    curveColoursAxis: '色数',
    curveSizeAxis: 'サイズ',
    curvePsnrAxis: 'PSNR',
    curvePoint: p => `${p.colours} 色 : ${Texts.fileSize(p.bytes)} | ${Texts.psnr(p.psnr)} | 最大誤差 ${p.maxError}`,
    lockedEntry: '  [固定]',
    lockTip: '右クリックでその色を固定 (次のプレビューでもそのまま残します)',
    noWebAssembly: 'このブラウザーは WebAssembly に対応していないため動きません',
};
