// SPDX-License-Identifier: MIT
// Loads every page of the file server in headless Chromium, checks what a
// person reads, follows a sort link, a page link and a folder link, submits
// the description form and saves screenshots.
//
// usage: node pages_browser_test.cjs SERVER FILEDATA SCRATCH SHOTS
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

const [serverPath, filedata, scratch, shots] = process.argv.slice(2);
fs.mkdirSync(shots, { recursive: true });

function startServer() {
  return new Promise((resolve, reject) => {
    const child = spawn(serverPath, [filedata, scratch], { stdio: ['pipe', 'pipe', 'inherit'] });
    let out = '';
    const timer = setTimeout(() => reject(new Error('server did not start in 5 s')), 5000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = /port (\d+)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ child, port: Number(m[1]) });
      }
    });
    child.on('exit', (code) => reject(new Error('server ended with ' + code)));
  });
}

function token() {
  // The server reverses "@" values after Base64: the same scheme as the pages' links.
  return Buffer.from('7$127.0.0.1$4711'.split('').reverse().join('')).toString('base64');
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
  const { child, port } = await startServer();
  const base = `http://127.0.0.1:${port}`;
  const userData = fs.mkdtempSync(path.join(require('os').tmpdir(), 'vantrel-chromium-'));
  // A fresh profile folder for every run.
  const context = await playwright.chromium.launchPersistentContext(userData, {
    executablePath: CHROMIUM,
    timeout: 30000,
    viewport: { width: 1280, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await context.newPage();
    page.setDefaultTimeout(10000);
    const outside = [];
    page.on('request', (r) => { if (!r.url().startsWith(base)) outside.push(r.url()); });
    const t = encodeURIComponent(token());
    const tpl = (name, q = '') => `${base}/template/${name}?${q}${q ? '&' : ''}@token=${t}`;
    const text = async () => page.innerText('body');
    const shot = async (name) => page.screenshot({ path: path.join(shots, name + '.png'), fullPage: true });

    const pages = [
      ['client-shared_show_all_template.html', '', ['All shared files', 'Blue Train.mp3', 'Field guide.pdf', '4 files shared by alice']],
      ['client-shared_show_all_by_group_template.html', 'sort=1', ['Shared files by group', 'Jazz', 'Guides']],
      ['client-shared_show_all_by_dirs_template.html', 'sort=2', ['Shared files by folder', '/srv/music/', '/srv/docs/']],
      ['client-shared_groups_template.html', '', ['Shared groups', 'Jazz', 'Guides']],
      ['client-shared_groups_directories_template.html', 'groupid=5&groupname=Jazz', ['Coltrane', 'Davis', 'Giant Steps.mp3']],
      ['client-shared_directories_template.html', 'dir=/srv/', ['Shared folders', 'music', 'docs']],
      ['client-connected_users_template.html', '', ['Who is connected', 'bob', '10.1.1.3', '2 connections']],
      ['client-connected_users_extended_template.html', '', ['bob', '42%', 'Disconnect']],
      ['client-share_files_template.html', 'groupname=Jazz&groupid=5', ['Share files', 'Holiday photos', 'track 000.mp3', 'page 1 of 3', 'Share the checked files']],
      ['client-first_time.html', '', ['Welcome to sharing']],
      ['client-loading_share_window_template.html', 'loading=1', ['Opening the share window']],
      // Opened directly, no command ran: the result pages claim no success.
      ['client-successfully_shared_files_template.html', '', ['Nothing shared', 'No file or folder was checked.']],
      ['client-successfully_removed_files_template.html', '', ['Nothing removed']],
      ['client-successfully_removed_users_template.html', '', ['Nobody disconnected']],
      ['client-info_template.html', '', ['alice']],
      ['client-file_editdesc_template.html', 'fileid=102', ['Describe Giant Steps.mp3', 'Save description']],
    ];
    for (const [name, q, texts] of pages) {
      const response = await page.goto(tpl(name, q));
      check(response && response.status() === 200, `${name} answers 200`);
      const body = await text();
      for (const want of texts) check(body.includes(want), `${name} shows "${want}"`);
      check(!/command unknown|Template Error|Wrong type|Wrong number|iteration max/.test(body), `${name} has no template fault`);
      await shot(name.replace('.html', ''));
    }

    // A file name in the list opens its information page (downloads need
    // their own token, so the link goes through the page), then its description form.
    await page.goto(tpl('client-shared_show_all_template.html'));
    await Promise.all([page.waitForLoadState('load'), page.click('a:has-text("Blue Train.mp3")')]);
    let body = await text();
    check(body.includes('Blue Train.mp3') && body.includes('4.2 MB') && body.includes('file 101'), 'file information shows name, size and description');
    if (!body.includes('Blue Train.mp3')) console.log(body);
    await shot('file_info');
    await page.fill('textarea[name=description]', 'Recorded 1957 & remastered <live>');
    await Promise.all([page.waitForLoadState('load'), page.click('text=Save description')]);
    body = await text();
    check(body.includes('Recorded 1957 & remastered <live>'), 'the description form stores and shows the new text');
    await shot('file_info_after_description');

    // A sort link: size descending puts the largest file first.
    await page.goto(tpl('client-shared_show_all_template.html'));
    await page.click('a[href*="sort=5"]');
    const firstRow = await page.innerText('table tr:nth-child(2) td:first-child');
    check(firstRow.includes('Kind of Blue.mp3'), 'the size sort link orders the largest file first');

    // A page link of the share-files browser, then a folder link.
    await page.goto(tpl('client-share_files_template.html', 'groupname=Jazz&groupid=5'));
    await page.click('.pages a:has-text("2")');
    body = await text();
    check(body.includes('page 2 of 3') && body.includes('track 1'), 'the page link shows the second page');
    if (!body.includes('page 2 of 3')) console.log(page.url() + '\n' + body);
    await page.goto(tpl('client-share_files_template.html', 'groupname=Jazz&groupid=5'));
    await page.click('a:has-text("Holiday photos")');
    body = await text();
    check(body.includes('beach.jpg') && body.includes('Holiday photos'), 'the folder link lists the folder');
    await shot('share_files_folder');

    // Disconnecting a user posts that user's session and address.
    await page.goto(tpl('client-connected_users_extended_template.html'));
    await Promise.all([page.waitForLoadState('load'), page.click('tr:has-text("bob") button')]);
    check((await text()).includes('Users disconnected'), 'the disconnect button reaches the result page');

    // The error page.
    await page.goto(`${base}/getfileinfo/file?fileid=999`);
    body = await text();
    check(/Error 14/.test(body), 'the error page shows the code');
    await shot('error');

    // Phone width.
    await page.setViewportSize({ width: 390, height: 844 });
    await page.goto(tpl('client-shared_show_all_template.html'));
    const wide = await page.evaluate(() => document.documentElement.scrollWidth);
    check(wide <= 400, `all shared files fits a phone screen (${wide}px)`);
    await shot('shared_show_all_phone');
    await page.goto(tpl('client-share_files_template.html', 'groupname=Jazz&groupid=5'));
    await shot('share_files_phone');

    check(outside.length === 0, 'no request leaves the file server' + (outside.length ? ': ' + outside[0] : ''));
  } finally {
    await context.close();
    child.stdin.end();
    child.kill();  // this test's own server, by its handle
    fs.rmSync(userData, { recursive: true, force: true });
  }
  console.log(failures ? `${failures} checks failed` : 'all checks passed');
  process.exit(failures ? 1 : 0);
}

const guard = setTimeout(() => { console.log('FAIL: the browser test ran past 150 s'); process.exit(1); }, 150000);
guard.unref();
main().catch((e) => { console.log('FAIL: ' + e.stack); process.exit(1); });
