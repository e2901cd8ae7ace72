'use strict';
// Plays a person dictating on a phone: headless Chromium at a phone's size opens
// the relay's phone page. After each step it prints "step NAME" and waits for a
// line on standard input, so the test can look at the desktop before going on.
//
// Environment: TELLWIRE_PAIRING_LINK (the desktop's pairing link, on the relay's
// loopback origin), TELLWIRE_CHROMIUM (the browser; /usr/bin/chromium by default).

const readline = require('node:readline');
const puppeteer = require('puppeteer-core');

const link = process.env.TELLWIRE_PAIRING_LINK;
const chromium = process.env.TELLWIRE_CHROMIUM || '/usr/bin/chromium';
const phone = '13800138000';
const code = '123456';
const androidChrome =
  'Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0 Mobile Safari/537.36';

// Puppeteer ends the browser as the process exits.
process.on('SIGTERM', () => process.exit(1));

const input = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();

async function step(name) {
  process.stdout.write(`step ${name}\n`);
  const line = await input.next();
  if (line.done) throw new Error(`the test went away after step ${name}`);
}

// Stands in for the browser's recogniser (headless has no microphone): the test
// makes it hear text. Continuous mode: results pile up, the newest interim one is replaced.
function installFakeRecogniser() {
  class FakeSpeechRecognition {
    constructor() {
      this.lang = '';
      this.interimResults = false;
      this.continuous = false;
      this.running = false;
      this.results = [];
      this.onresult = null;
      this.onerror = null;
      this.onend = null;
    }
    start() {
      if (this.running) throw new DOMException('already started', 'InvalidStateError');
      this.running = true;
      this.results = [];
      window.fakeRecogniser = this;
    }
    stop() {
      if (!this.running) return;
      this.running = false;
      setTimeout(() => this.onend && this.onend(new Event('end')), 0);
    }
    abort() { this.stop(); }
    hear(transcript, isFinal) {
      const result = Object.assign([{ transcript, confidence: 0.9 }], { isFinal });
      const last = this.results[this.results.length - 1];
      const index = last && !last.isFinal ? this.results.length - 1 : this.results.length;
      this.results[index] = result;
      this.onresult({ resultIndex: index, results: this.results.slice() });
    }
  }
  window.SpeechRecognition = FakeSpeechRecognition;
  window.webkitSpeechRecognition = FakeSpeechRecognition;
}

async function openPhonePage(context, url, problems) {
  const page = await context.newPage();
  page.setDefaultTimeout(20000);
  await page.setUserAgent(androidChrome);
  await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
  await page.evaluateOnNewDocument(installFakeRecogniser);
  // Script errors and policy refusals (the page runs under a strict Content-Security-Policy) fail the run.
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error' && !/Failed to load resource|ERR_INTERNET_DISCONNECTED/.test(message.text()))
      problems.push(`console: ${message.text()}`);
  });
  const response = await page.goto(url, { waitUntil: 'load' });
  if (!response || response.status() !== 200) throw new Error(`the page answered ${response && response.status()}`);
  if (!/script-src 'self'/.test(response.headers()['content-security-policy'] || ''))
    throw new Error('the page came without its Content-Security-Policy');
  return page;
}

const stateIs = (page, text) =>
  page.waitForFunction((t) => document.getElementById('state').textContent === t, {}, text);

const eventOf = (request) => JSON.parse(request.postData() || '{}');

// Resolves when a published event that wanted() picks fails on the network.
function failedEvent(page, wanted) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no event send failed')), 20000);
    const seen = (request) => {
      if (request.method() === 'POST' && request.url().endsWith('/v1/events') && wanted(eventOf(request))) {
        page.off('requestfailed', seen);
        clearTimeout(timer);
        resolve();
      }
    };
    page.on('requestfailed', seen);
  });
}

async function typeInPieces(page, pieces) {
  for (const piece of pieces) await page.keyboard.type(piece);
}

async function main() {
  if (!link) throw new Error('TELLWIRE_PAIRING_LINK is not set');
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    // Over a pipe the browser ends with this script, however the script ends.
    pipe: true,
    handleSIGTERM: false,
    // Root has no sandbox; the password store stays off the session's keyring.
    args: ['--no-sandbox', '--password-store=basic', '--use-mock-keychain', '--lang=zh-CN', '--no-first-run'],
  });
  const problems = [];
  try {
    // Paired by the link: the token is kept, the secret leaves the address bar.
    const page = await openPhonePage(browser.defaultBrowserContext(), link, problems);
    await stateIs(page, '已连接');
    await page.waitForFunction(() => location.hash === '' && localStorage.getItem('tellwire.token'));
    if (await page.$eval('#signin', (e) => !e.hidden)) throw new Error('the sign-in still shows after pairing');
    await step('paired');

    // The keyboard's microphone types into the box: interim text, then Enter makes it final.
    await page.tap('#text');
    await typeInPieces(page, ['今天', '天', '气']);
    await step('typing');
    await typeInPieces(page, ['不', '错']);
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.getElementById('text').value === '');
    await step('typed');

    // The browser's own recogniser.
    await page.tap('#listen');
    await page.waitForFunction(() => document.getElementById('listen').textContent === '停止听写' &&
                                     window.fakeRecogniser && window.fakeRecogniser.running);
    const asked = await page.evaluate(() => [window.fakeRecogniser.lang, window.fakeRecogniser.interimResults]);
    if (asked[0] !== 'zh-CN' || asked[1] !== true) throw new Error(`the recogniser was asked for ${asked}`);
    await page.evaluate(() => { window.fakeRecogniser.hear('语音', false); window.fakeRecogniser.hear('语音输入', false); });
    await step('speech-interim');
    await page.evaluate(() => window.fakeRecogniser.hear('语音输入很方便', true));
    await page.tap('#listen');
    await page.waitForFunction(() => document.getElementById('listen').textContent === '开始听写');
    await step('speech-final');

    // The network drops after an interim got through: the final and the next
    // utterance wait, in order, and the final's failed send is retried.
    await page.tap('#text');
    const interimArrived = page.waitForResponse((r) => r.url().endsWith('/v1/events') && r.ok() &&
                                                       eventOf(r.request()).text === '断网时候');
    await typeInPieces(page, ['断网', '时候']);
    await interimArrived;
    await page.setOfflineMode(true);
    const finalFailed = failedEvent(page, (e) => e.final === true && e.text === '断网时候');
    await page.tap('#send');
    await page.tap('#text');
    await typeInPieces(page, ['第二句']);
    await page.keyboard.press('Enter');
    await finalFailed;
    await stateIs(page, '正在重连…');
    await page.waitForFunction(() => document.getElementById('pending').textContent === '还有 2 句等待发送');
    await step('offline');
    await page.setOfflineMode(false);
    await stateIs(page, '已连接');
    await page.waitForFunction(() => document.getElementById('pending').textContent === '');
    await step('online');

    // Another phone signs in with number and code, and pauses instead of pressing Enter.
    const other = await browser.createBrowserContext();
    const second = await openPhonePage(other, new URL('/', link).href, problems);
    await stateIs(second, '未登录');
    await second.tap('#phone');
    await second.keyboard.type(phone);
    await second.tap('#request-code');
    await second.waitForFunction(() => document.getElementById('signin-message').textContent.startsWith('验证码已发送'));
    await second.tap('#code');
    await second.keyboard.type(code);
    await second.tap('#verify');
    await stateIs(second, '已连接');
    await second.tap('#text');
    await second.keyboard.type('验证码登录');
    await second.waitForFunction(() => document.getElementById('text').value === '', { timeout: 10000 });
    await step('code-signin');

    if (problems.length) throw new Error(problems.join('\n'));
  } finally {
    await browser.close();
  }
}

main().then(
  () => process.exit(0),
  (error) => {
    process.stderr.write(`phone page driver: ${error.stack || error}\n`);
    process.exit(1);
  });
