// Headless Chromium for the browser tests and the overlay benchmark: started by us with the
// flags a root user in a loopback-only network namespace needs, reached over DevTools, and
// stopped with its whole process group.
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

// Resolves to {child, endpoint, profile} once the browser says where DevTools listens.
function startBrowser(executable) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-chromium-'));
  const child = spawn(executable, ['--headless', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
    '--no-default-browser-check', '--hide-scrollbars', '--remote-debugging-port=0', `--user-data-dir=${profile}`, 'about:blank'],
  {stdio: ['ignore', 'ignore', 'pipe'], detached: true});
  return new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error(`the browser did not start: ${seen}`)), 30000);
    child.stderr.on('data', (chunk) => {
      seen += chunk;
      const match = /DevTools listening on (ws:\/\/\S+)/.exec(seen);
      if (match) {
        clearTimeout(timer);
        resolve({child, endpoint: match[1], profile});
      }
    });
    child.on('exit', (code) => reject(new Error(`the browser exited (${code}): ${seen}`)));
  });
}

// The browser and its helper processes (a process group of their own) go, then its profile;
// a profile a straggler still writes to is left to the system's temporary folder.
async function stopBrowser(started) {
  if (started.child.exitCode === null) {
    const exited = new Promise((resolve) => started.child.once('exit', resolve));
    try {
      process.kill(-started.child.pid, 'SIGKILL');
    } catch (error) {
      started.child.kill('SIGKILL');
    }
    await exited;
  }
  try {
    fs.rmSync(started.profile, {recursive: true, force: true, maxRetries: 5, retryDelay: 200});
  } catch (error) {
    console.log(`note: could not remove ${started.profile}: ${error.code}`);
  }
}

// "--name value" pairs of the command line.
function parseArgs(argv) {
  const args = {};
  for (let i = 2; i < argv.length; i += 2) args[argv[i].replace(/^--/, '')] = argv[i + 1];
  return args;
}

module.exports = {startBrowser, stopBrowser, parseArgs};
