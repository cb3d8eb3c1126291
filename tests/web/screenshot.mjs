// tests/web/screenshot.mjs: docs/web-page.png, the page with the test card reduced and its colour
// curve, taken in headless chromium. Usage (after scripts/build_web.sh and with the page served on PORT):
//   node tests/web/screenshot.mjs CARD.png OUT.png [PORT]
// then reduce OUT.png with tessaline-cli as the other docs pictures are.
import puppeteer from 'puppeteer-core';

const [card, out, port = '8030'] = process.argv.slice(2);
const browser = await puppeteer.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
                                         args: ['--no-sandbox'] });
const page = await browser.newPage();
await page.setViewport({ width: 1100, height: 820 });
await page.goto(`http://127.0.0.1:${port}/`);
await page.waitForFunction(() => document.body.dataset.state === 'ready');
await (await page.$('#open')).uploadFile(card);
await page.waitForFunction(() => document.body.dataset.state === 'done', { timeout: 120000 });
await page.click('#curve');
await page.waitForFunction(() => document.body.dataset.state === 'curve-done', { timeout: 120000 });
await page.screenshot({ path: out });
await browser.close();
