'use strict';
// The phone side of phone_latency_bench: headless Chromium opens the relay's
// phone page by a pairing link, then obeys one command per line of standard
// input and answers with one line:
//   clock       -> "at T"    the page's clock, nothing else done
//   type CHAR   -> "at T"    CHAR appended to the box; T is when its input event was dispatched
//   final       -> "done"    Enter pressed; answered once the box is empty again
//   timings     -> "timings [[start, requestStart, responseStart], ...]"
//                  the page's Resource Timing of every POST /v1/events so far, on the same clock as T
// T is performance.timeOrigin + performance.now() in the page, in ms.
// "type" and "final" keep at least TELLWIRE_BENCH_SPACING_MS (150) between
// changes: the page sends at most one interim per 100 ms, and a change that
// comes later goes out at once rather than on the throttle's trailing edge.
//
// Environment: TELLWIRE_PAIRING_LINK, TELLWIRE_CHROMIUM (/usr/bin/chromium by default),
// TELLWIRE_BENCH_SPACING_MS. puppeteer-core comes from tests/phone/node_modules (NODE_PATH).

const readline = require('node:readline');
const { setTimeout: pause } = require('node:timers/promises');
const puppeteer = require('puppeteer-core');

const link = process.env.TELLWIRE_PAIRING_LINK;
const chromium = process.env.TELLWIRE_CHROMIUM || '/usr/bin/chromium';
const spacingMs = Number(process.env.TELLWIRE_BENCH_SPACING_MS || 150);
const androidChrome =
  'Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0 Mobile Safari/537.36';

// Puppeteer ends the browser as the process exits.
process.on('SIGTERM', () => process.exit(1));

const say = (line) => process.stdout.write(`${line}\n`);

async function main() {
  if (!link) throw new Error('TELLWIRE_PAIRING_LINK is not set');
  if (!(spacingMs >= 0)) throw new Error('TELLWIRE_BENCH_SPACING_MS is not a number');
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    pipe: true,
    handleSIGTERM: false,
    // Root has no sandbox; the password store stays off the session's keyring.
    args: ['--no-sandbox', '--password-store=basic', '--use-mock-keychain', '--lang=zh-CN', '--no-first-run'],
  });
  const problems = [];
  try {
    const page = await browser.newPage();
    page.setDefaultTimeout(20000);
    await page.setUserAgent(androidChrome);
    await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    const response = await page.goto(link, { waitUntil: 'load' });
    if (!response || response.status() !== 200) throw new Error(`the page answered ${response && response.status()}`);
    await page.waitForFunction(() => document.getElementById('state').textContent === '已连接' &&
                                     location.hash === '' && localStorage.getItem('tellwire.token'));
    // Room for every send of the run (the default keeps 250).
    await page.evaluate(() => performance.setResourceTimingBufferSize(100000));
    await page.tap('#text');
    say('ready');

    // When the last change was dispatched, on this process's clock.
    let lastChange = -Infinity;
    const paced = async () => {
      const wait = lastChange + spacingMs - performance.now();
      if (wait > 0) await pause(wait);
      lastChange = performance.now();
    };

    for await (const line of readline.createInterface({ input: process.stdin })) {
      if (problems.length) throw new Error(problems.join('\n'));
      const [command, argument] = line.split(' ');
      if (command === 'clock') {
        say(`at ${await page.evaluate(() => performance.timeOrigin + performance.now())}`);
      } else if (command === 'type') {
        await paced();
        // What a keyboard's dictation does to the box; the clock is read just before the page hears of it.
        const at = await page.evaluate((ch) => {
          const box = document.getElementById('text');
          box.value += ch;
          const dispatched = performance.timeOrigin + performance.now();
          box.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'insertText', data: ch }));
          return dispatched;
        }, argument);
        say(`at ${at}`);
      } else if (command === 'final') {
        await paced();
        await page.keyboard.press('Enter');
        await page.waitForFunction(() => document.getElementById('text').value === '');
        say('done');
      } else if (command === 'timings') {
        const sends = await page.evaluate(() => performance.getEntriesByType('resource')
          .filter((e) => new URL(e.name).pathname === '/v1/events')
          .map((e) => [e.startTime, e.requestStart, e.responseStart]
            .map((t) => performance.timeOrigin + t)));
        say(`timings ${JSON.stringify(sends)}`);
      } else {
        throw new Error(`unknown command: ${line}`);
      }
    }
    if (problems.length) throw new Error(problems.join('\n'));
  } finally {
    await browser.close();
  }
}

main().then(
  () => process.exit(0),
  (error) => {
    process.stderr.write(`latency driver: ${error.stack || error}\n`);
    process.exit(1);
  });
