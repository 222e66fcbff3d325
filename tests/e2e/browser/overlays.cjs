// The built-in overlays in a real browser: headless Chromium, started here, driven over the
// DevTools protocol (puppeteer-core), against a plugin core fed by corvane-devsim over USB.
// Each overlay must show the simulator's score, then a change of it; a page served from
// another origin must fail to open /live and to load an overlay's script; the pages load nothing from elsewhere and keep a
// transparent background. With --device, two scorebugs side by side, one on the main device
// and one on that followed device (?device=ID), must each show their own game. Screenshots
// of each overlay go to --shots.
//   node overlays.cjs --browser PATH --port OVERLAY_PORT --shots DIR [--device FOLLOWED_ID]
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const puppeteer = require('puppeteer-core');
const {startBrowser, stopBrowser, parseArgs} = require('./chromium.cjs');

const args = parseArgs(process.argv);
const base = `http://127.0.0.1:${args.port}`;
const overlays = ['scorebug', 'scoreboard', 'lower-third'];
let failures = 0;

function check(ok, what) {
  console.log(`${ok ? 'PASS' : 'FAIL'}: ${what}`);
  if (!ok) failures++;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));


async function snapshot(device) {
  const response = await fetch(`${base}/live.json${device ? '?device=' + encodeURIComponent(device) : ''}`);
  return response.json();
}

// Chromium as root in a namespace of its own: no sandbox (it needs user namespaces that a
// chroot cannot give), no GPU, shared memory in /tmp, a profile of its own.

async function scoresOnPage(page) {
  return page.evaluate(() => [document.getElementById('home-score').textContent, document.getElementById('away-score').textContent]);
}

// The page shows the score the server has, give or take an update in flight.
async function showsCurrentScore(page, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  let shown = null;
  let expected = null;
  while (Date.now() < deadline) {
    const fields = (await snapshot()).fields || {};
    expected = [fields.home_score, fields.away_score];
    shown = await scoresOnPage(page);
    if (shown[0] === expected[0] && shown[1] === expected[1]) return {ok: true, shown};
    await sleep(100);
  }
  return {ok: false, shown, expected};
}

async function testOverlay(browser, name) {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 720});
  const elsewhere = [];
  page.on('request', (request) => {
    const url = request.url();
    if (!url.startsWith(base + '/') && !url.startsWith('data:')) elsewhere.push(url);
  });
  await page.goto(`${base}/overlays/${name}/?home=%23c62828&away=%231565c0&home_name=EAGLES&away_name=HAWKS`, {waitUntil: 'load'});
  const first = await showsCurrentScore(page, 10000);
  check(first.ok, `${name} shows the simulator's score (${JSON.stringify(first.shown)}${first.ok ? '' : ', server has ' + JSON.stringify(first.expected)})`);

  const before = await scoresOnPage(page);
  const changed = await page.waitForFunction(
    (home, away) => document.getElementById('home-score').textContent !== home || document.getElementById('away-score').textContent !== away,
    {timeout: 20000}, before[0], before[1]).then(() => true, () => false);
  const after = await showsCurrentScore(page, 5000);
  check(changed && after.ok, `${name} shows a change of the score (${JSON.stringify(before)} -> ${JSON.stringify(after.shown)})`);

  const background = await page.evaluate(() => [getComputedStyle(document.documentElement).backgroundColor, getComputedStyle(document.body).backgroundColor]);
  check(background.every((colour) => colour === 'rgba(0, 0, 0, 0)'), `${name} has a transparent background (${background})`);
  check(elsewhere.length === 0, `${name} loads nothing from elsewhere${elsewhere.length ? ': ' + elsewhere.join(' ') : ''}`);
  const names = await page.evaluate(() => [document.getElementById('home-name').textContent, document.getElementById('away-name').textContent]);
  check(names[0] === 'EAGLES' && names[1] === 'HAWKS', `${name} takes the team names from the address (${names})`);

  if (args.shots) {
    fs.mkdirSync(args.shots, {recursive: true});
    const panel = await page.$('.panel');
    await panel.screenshot({path: path.join(args.shots, `overlay-${name}.png`), omitBackground: true});
  }
  await page.close();
}

// Two pages at once, the main device's and the followed one's: each shows its own device's
// score at a moment when the two games' scores differ, so a page showing the other game fails.
async function testTwoDevices(browser, device) {
  const pages = [];
  for (const query of ['', `?device=${encodeURIComponent(device)}`]) {
    const page = await browser.newPage();
    await page.goto(`${base}/overlays/scorebug/${query}`, {waitUntil: 'load'});
    pages.push(page);
  }
  const deadline = Date.now() + 20000;
  let seen = null;
  while (Date.now() < deadline) {
    const expected = [];
    for (const id of [undefined, device]) {
      const fields = (await snapshot(id)).fields || {};
      expected.push([fields.home_score, fields.away_score]);
    }
    const shown = [await scoresOnPage(pages[0]), await scoresOnPage(pages[1])];
    seen = {expected, shown};
    const same = (a, b) => a[0] === b[0] && a[1] === b[1];
    if (!same(expected[0], expected[1]) && same(shown[0], expected[0]) && same(shown[1], expected[1])) break;
    seen.failed = true;
    await sleep(100);
  }
  check(seen && !seen.failed, `the main device's scorebug and ${device}'s show their own games (${JSON.stringify(seen)})`);
  for (const page of pages) await page.close();
}

// A page of another site on this computer (another port is another origin) tries the feed.
async function testOtherOrigin(browser) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, {'Content-Type': 'text/html'});
    response.end(`<!DOCTYPE html><script>
      window.result = new Promise((resolve) => {
        const socket = new WebSocket('ws://127.0.0.1:${args.port}/live');
        socket.onmessage = () => resolve('read');
        socket.onerror = () => resolve('refused');
      });
      window.fetched = fetch('${base}/live.json').then((r) => r.text().then(() => 'read'), () => 'refused');
      // A script load sends no Origin: the server and the browser must still keep it out.
      window.script = new Promise((resolve) => {
        const script = document.createElement('script');
        script.src = '${base}/overlays/scorebug/live.js';
        script.onload = () => resolve('loaded');
        script.onerror = () => resolve('refused');
        document.head.appendChild(script);
      });
    </script>`);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  const socket = await page.evaluate(() => window.result);
  const fetched = await page.evaluate(() => window.fetched);
  check(socket === 'refused', `a page from another origin cannot open /live (${socket})`);
  check(fetched === 'refused', `a page from another origin cannot read /live.json (${fetched})`);
  const script = await page.evaluate(() => window.script);
  check(script === 'refused', `a page from another origin cannot load an overlay's script (${script})`);
  // The same attempt from a page of the overlay server itself does read the feed.
  await page.goto(`${base}/overlays/scorebug/`);
  const own = await page.evaluate(() => new Promise((resolve) => {
    const socket = new WebSocket(`ws://${location.host}/live`);
    socket.onmessage = () => resolve('read');
    socket.onerror = () => resolve('refused');
  }));
  check(own === 'read', `a page of the overlay server opens /live (${own})`);
  await page.close();
  server.close();
}

(async () => {
  const started = await startBrowser(args.browser);
  const browser = await puppeteer.connect({browserWSEndpoint: started.endpoint, defaultViewport: null});
  try {
    console.log(`browser: ${await browser.version()}`);
    for (const name of overlays) await testOverlay(browser, name);
    if (args.device) await testTwoDevices(browser, args.device);
    await testOtherOrigin(browser);
  } catch (error) {
    check(false, `browser session: ${error.stack || error}`);
  } finally {
    await browser.close().catch(() => {});
    await stopBrowser(started);
  }
  console.log(failures === 0 ? 'overlays in the browser: all passed' : `overlays in the browser: ${failures} failed`);
  process.exit(failures === 0 ? 0 : 1);
})();
