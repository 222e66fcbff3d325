// From the simulator's write of a live message to (a) a hosted TCP server client reading its
// line and (b) a page of the overlay server changing its text in headless Chromium, in the
// same run. The simulator stamps each message with its monotonic clock (sim_sent_us); this
// process reads the same clock (process.hrtime) for the TCP client, and the page notes its
// wall clock, which is lined up with the monotonic one here (both processes derive
// performance.timeOrigin + performance.now() from the same system clocks).
//   node latency.cjs --browser PATH --port OVERLAY_PORT --hosted HOSTED_PORT --changes N
'use strict';
const net = require('net');
const {performance} = require('perf_hooks');
const puppeteer = require('puppeteer-core');
const {startBrowser, stopBrowser, parseArgs} = require('../../../tests/e2e/browser/chromium.cjs');

const args = parseArgs(process.argv);
const changes = Number(args.changes || 200);
const monotonicMs = () => Number(process.hrtime.bigint()) / 1e6;

function figures(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
  const mean = sorted.reduce((a, b) => a + b, 0) / sorted.length;
  return `median ${at(0.5).toFixed(2).padStart(6)}  p99 ${at(0.99).toFixed(2).padStart(6)}  mean ${mean.toFixed(2).padStart(6)}  ` +
    `min ${sorted[0].toFixed(2).padStart(6)}  max ${sorted[sorted.length - 1].toFixed(2).padStart(6)} ms`;
}



(async () => {
  // The hosted server's client: the first line carrying each stamp.
  const tcp = [];
  const seen = new Set();
  let pending = '';
  const socket = net.connect(Number(args.hosted), '127.0.0.1');
  socket.on('data', (chunk) => {
    const now = monotonicMs();
    pending += chunk;
    let newline;
    while ((newline = pending.indexOf('\n')) >= 0) {
      const line = pending.slice(0, newline);
      pending = pending.slice(newline + 1);
      const stamp = ((JSON.parse(line).fields || {}).sim_sent_us) || '';
      if (stamp && !seen.has(stamp)) {
        seen.add(stamp);
        tcp.push(now - Number(stamp) / 1000);
      }
    }
  });

  const started = await startBrowser(args.browser);
  const browser = await puppeteer.connect({browserWSEndpoint: started.endpoint, defaultViewport: null});
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${args.port}/overlays/latency-stamp/`, {waitUntil: 'load'});
  await page.waitForFunction(() => window.changes.length > 0, {timeout: 20000});
  // Both series start now.
  tcp.length = 0;
  await page.evaluate(() => { window.changes.length = 0; });
  await page.waitForFunction((n) => window.changes.length >= n, {timeout: changes * 1000 + 30000, polling: 200}, changes);
  const pageChanges = await page.evaluate(() => window.changes);
  const wallMinusMonotonic = performance.timeOrigin + performance.now() - monotonicMs();
  const inPage = pageChanges.slice(0, changes).map(([stamp, wall]) => wall - wallMinusMonotonic - Number(stamp) / 1000);
  const inTcp = tcp.slice(0, changes);

  console.log(`Overlay latency: the device writes a live message every ${args.interval || '?'} ms over USB; from its write until`);
  console.log(`  a hosted TCP server client reads the line   ${String(inTcp.length).padStart(4)} updates  ${figures(inTcp)}`);
  console.log(`  an overlay page's text changes (Chromium)   ${String(inPage.length).padStart(4)} changes  ${figures(inPage)}`);
  await browser.close().catch(() => {});
  await stopBrowser(started);
  socket.destroy();
  process.exit(0);
})().catch((error) => {
  console.error(error.stack || error);
  process.exit(1);
});
