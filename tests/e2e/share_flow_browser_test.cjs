// SPDX-License-Identifier: MIT
// The way a person shares files: vantrel-server and a logged-in vantreld on
// loopback, and headless Chromium signs in to the web site, joins a group,
// follows "Share files here" into the client's own share page, checks a file
// and a folder whose names have spaces, and shares them. The result page and
// the client's list of shared files must show exactly those.
//
// usage: node share_flow_browser_test.cjs SERVER VANTRELD FILEDATA SCRATCH SHOTS
// Fails, saying which, when Chromium or playwright-core is missing (the
// build's VANTREL_TEST_BROWSER=OFF leaves this test out instead).
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
let playwright;
try {
  playwright = require('playwright-core');
} catch (e) {
  console.log('FAIL: playwright-core is not installed: scripts/test installs it, or ' +
              'npm install --prefix build/e2e-node playwright-core@1.65.2; ' +
              'configure with -DVANTREL_TEST_BROWSER=OFF to leave the browser tests out');
  process.exit(1);
}
if (!fs.existsSync(CHROMIUM)) {
  console.log('FAIL: no Chromium at ' + CHROMIUM + ' (apt-get install chromium, or configure with ' +
              '-DVANTREL_TEST_BROWSER=OFF to leave the browser tests out)');
  process.exit(1);
}

const [serverPath, vantreldPath, filedata, scratch, shots] = process.argv.slice(2);
fs.rmSync(scratch, { recursive: true, force: true });
fs.mkdirSync(shots, { recursive: true });
const children = [];

// Starts a program and resolves with the first match of `pattern` in its output.
function start(program, args, env, pattern, what) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
    children.push(child);
    let out = '';
    const timer = setTimeout(() => reject(new Error(what + ' did not start in 15 s:\n' + out)), 15000);
    const take = (d) => {
      out += d;
      const m = pattern.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ child, match: m, output: () => out });
      }
    };
    child.stdout.on('data', take);
    child.stderr.on('data', take);
    child.on('exit', (code) => reject(new Error(what + ' ended with ' + code + ':\n' + out)));
  });
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = require('net').createServer();
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

let failures = 0;
function check(condition, what) {
  if (condition) {
    console.log('ok   ' + what);
  } else {
    failures++;
    console.log('FAIL ' + what);
  }
}

async function main() {
  // The person's home folder, where the share page opens.
  const person = path.join(scratch, 'person');
  fs.mkdirSync(path.join(person, 'Summer Photos', 'day one'), { recursive: true });
  fs.mkdirSync(path.join(person, '.config'), { recursive: true });
  fs.writeFileSync(path.join(person, 'Night Train.mp3'), 'la la la');
  fs.writeFileSync(path.join(person, 'Other Song.mp3'), 'not checked');
  fs.writeFileSync(path.join(person, '.profile'), 'hidden');
  fs.writeFileSync(path.join(person, 'Summer Photos', 'beach.jpg'), 'jpeg');
  fs.writeFileSync(path.join(person, 'Summer Photos', 'day one', 'sea view.jpg'), 'jpeg');
  const home = path.join(scratch, 'client');
  fs.mkdirSync(home, { recursive: true });
  fs.copyFileSync(filedata, path.join(home, 'filedata.dat'));
  fs.writeFileSync(path.join(scratch, 'password'), 'secret\n');

  const server = await start(serverPath, ['--db', path.join(scratch, 'server.db'), '--listen', '127.0.0.1:0',
    '--udp-port', '0', '--add-user', 'alice:secret', '--demo-catalogue'], {}, /127\.0\.0\.1:(\d+)\/ and UDP port \d+/,
  'vantrel-server');
  const site = `http://127.0.0.1:${server.match[1]}`;
  const env = {
    HOME: person, VANTREL_CONFIG_DIR: path.join(scratch, 'config'), XDG_RUNTIME_DIR: scratch,
    XDG_CONFIG_HOME: path.join(scratch, 'xdg'), VANTREL_WEB_HOST: `127.0.0.1:${server.match[1]}`,
  };
  // The client tells the server its file server's port at login, before it
  // listens: "any port" would reach the server as 0 and the web site would
  // have no link to the client. A port the system just handed out is free.
  const filePort = await freePort();
  const client = await start(vantreldPath, ['--home', home, '--user', 'alice', '--password-file',
    path.join(scratch, 'password'), '--server', `127.0.0.1:${server.match[1]}`, '--port', String(filePort),
    '--udp-port', '0'],
  env, /file server on http:\/\/127\.0\.0\.1:(\d+)\//, 'vantreld');
  const clientBase = `http://127.0.0.1:${client.match[1]}`;

  const userData = fs.mkdtempSync(path.join(require('os').tmpdir(), 'vantrel-chromium-'));
  const context = await playwright.chromium.launchPersistentContext(userData, {
    executablePath: CHROMIUM,
    timeout: 30000,
    viewport: { width: 1280, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await context.newPage();
    page.setDefaultTimeout(10000);
    const shot = async (name) => page.screenshot({ path: path.join(shots, name + '.png'), fullPage: true });
    const text = async () => page.innerText('body');

    // Sign in on the web site, open the public group and join it.
    await page.goto(`${site}/login.jsp?next=${encodeURIComponent('/group.jsp?groupid=7')}`);
    await page.fill('#u', 'alice');
    await page.fill('#p', 'secret');
    await Promise.all([page.waitForLoadState('load'), page.click('button:has-text("Sign in")')]);
    if (!(await text()).includes('Share files here')) {
      await Promise.all([page.waitForLoadState('load'), page.click('button:has-text("Join this group")')]);
      if (!page.url().includes('group.jsp')) await page.goto(`${site}/group.jsp?groupid=7`);
    }
    await shot('share_flow_group');
    check((await text()).includes('Share files here'), 'the group page offers "Share files here"');

    // "Share files here" leads to the client's own share page, in the home folder.
    await Promise.all([page.waitForLoadState('load'), page.click('a:has-text("Share files here")')]);
    let body = await text();
    await shot('share_flow_share_page');
    check(page.url().startsWith(clientBase + '/template/client-share_files_template.html'), 'the link opens the client\'s share page');
    check(body.includes('You are in ' + person), 'the share page opens in the home folder and says so');
    check(body.includes('Night Train.mp3') && body.includes('Summer Photos'), 'it lists the files and folders there');
    check(!body.includes('.profile') && !body.includes('.config'), 'it hides dot-files');
    check(body.includes('Open Music Lounge'), 'it names the group');

    // Check one file and one folder, both with spaces in their names.
    await page.check('tr:has-text("Night Train.mp3") input[type=checkbox]');
    await page.check('tr:has-text("Summer Photos") input[type=checkbox]');
    await Promise.all([page.waitForLoadState('load'), page.click('button:has-text("Share the checked files and folders")')]);
    body = await text();
    await shot('share_flow_result');
    check(body.includes('Files shared') && body.includes('The files you checked are now shared.'), 'the result page says the files are shared');
    if (!body.includes('now shared')) console.log(body);
    check(!/could not/i.test(body), 'and reports no failure');

    // The client's list of its shared files has exactly those three files.
    await page.goto(`${clientBase}/template/client-shared_show_all_template.html?token=1$127.0.0.1`);
    body = await text();
    await shot('share_flow_all_shared');
    for (const name of ['Night Train.mp3', 'beach.jpg', 'sea view.jpg']) check(body.includes(name), `"${name}" is shared`);
    check(!body.includes('Other Song.mp3'), 'the file left unchecked is not shared');
    check(body.includes('3 files shared by alice'), 'three files in all');
  } finally {
    await context.close();
    fs.rmSync(userData, { recursive: true, force: true });
  }
}

function stopAll() {
  for (const child of children) {
    if (child.exitCode === null) child.kill('SIGTERM');  // this test's own children, by their handles
  }
}

const guard = setTimeout(() => { console.log('FAIL: the share flow test ran past 150 s'); stopAll(); process.exit(1); }, 150000);
guard.unref();
main()
  .catch((e) => { failures++; console.log('FAIL: ' + e.stack); })
  .finally(() => {
    stopAll();
    console.log(failures ? `${failures} checks failed` : 'all checks passed');
    process.exit(failures ? 1 : 0);
  });
