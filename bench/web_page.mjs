// bench/web_page.mjs: one reduction in the web page (headless chromium) against tessaline-cli on
// one and on two threads, back to back on the same machine, at the default settings. The page's
// time is its module's call (reduction, figures and the rows of the file), the tool's the
// reduction it prints. Needs the built page (scripts/build_web.sh), the release build and the
// browser tests' puppeteer-core (scripts/web_tests.sh installs it).
//   node bench/web_page.mjs [ROUNDS] IMAGE...      (default: the shared 768x512 photos, 3 rounds)
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(root, 'tests/web/package.json'));
const puppeteer = require('puppeteer-core');
const cli = path.join(root, 'build/release/cli/tessaline-cli');
const web = path.join(root, 'build/web');
let args = process.argv.slice(2);
const rounds = args.length && /^\d+$/.test(args[0]) ? Number(args.shift()) : 3;
if (args.length === 0)
    args = ['photo-fossa.png', 'photo-kleiber.png', 'photo-painting-colors.png']
        .map(name => path.join(root, '../shared/testdata/images', name)).filter(existsSync);

const server = http.createServer((request, response) => {
    const file = path.join(web, new URL(request.url, 'http://x').pathname.replace(/\/$/, '/index.html'));
    const type = file.endsWith('.wasm') ? 'application/wasm' : file.endsWith('.html') ? 'text/html' : 'text/javascript';
    existsSync(file) ? response.writeHead(200, { 'Content-Type': type }).end(readFileSync(file)) : response.writeHead(404).end();
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const browser = await puppeteer.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
                                         args: ['--no-sandbox'] });
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.address().port}/`);
await page.waitForFunction(() => document.body.dataset.state === 'ready');

const cliMs = (image, threads) => Number(execFileSync(cli, ['-o', '/dev/null', image], {
    encoding: 'utf8', env: { ...process.env, OMP_NUM_THREADS: String(threads) } }).match(/colours, (\d+) ms/)[1]);
console.log('image                      page ms   cli 1 thread   cli 2 threads');
for (const image of args) {
    await (await page.$('#open')).uploadFile(image);
    for (let round = 0; round < rounds; round++) {
        if (round)
            await page.click('#preview');
        await page.waitForFunction(() => document.body.dataset.state === 'done', { timeout: 600000 });
        const pageMs = Number((await page.$eval('#status', s => s.textContent)).match(/(\d+) ms/)[1]);
        await page.evaluate(() => { document.body.dataset.state = 'measured'; });
        console.log(`${path.basename(image).padEnd(26)} ${String(pageMs).padStart(7)} ${String(cliMs(image, 1)).padStart(14)} ${String(cliMs(image, 2)).padStart(15)}`);
    }
}
await browser.close();
server.close();
