// The technician's web console in Chromium, against the reference relay and the test host on
// a private Xvfb. Run by CTest (see CMakeLists.txt) with:
//   HALVORA_RELAY, HALVORA_TESTHOST  the two programs
//   WEBVIEWER_DIR                    the console's folder, served by the relay
//   WEBVIEWER_NODE_MODULES           where playwright-core is installed
//   WEBVIEWER_WORK                   a scratch folder, emptied first
//   WEBVIEWER_ARTIFACTS              where the screenshots go (default: WORK/artifacts)
//   CHROMIUM                         the browser (default /usr/bin/chromium)

'use strict';

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn, execFile } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { chromium } = require(path.join(process.env.WEBVIEWER_NODE_MODULES, 'playwright-core'));

const Work = process.env.WEBVIEWER_WORK;
const Artifacts = process.env.WEBVIEWER_ARTIFACTS || path.join(Work, 'artifacts');
const Children = [];
const CspViolations = [];
let Display, Relay, Host, Browser, Page;

const Ready = 'Pronto. Aguardando o atendente.';
const srNone = 0;
const srHost = 2;

function sleep(AMs) {
  return new Promise((Resolve) => setTimeout(Resolve, AMs));
}

async function waitUntil(ACondition, ATimeoutMs = 20000, AWhat = 'condition') {
  const End = Date.now() + ATimeoutMs;
  for (;;) {
    const Value = await ACondition();
    if (Value) return Value;
    if (Date.now() > End) throw new Error(`timed out waiting for ${AWhat}`);
    await sleep(100);
  }
}

function start(AProgram, AArgs, AEnv = {}, AStdio = 'ignore', ALog = null) {
  const Out = ALog ? fs.openSync(ALog, 'w') : 'ignore';
  const Stdio = Array.isArray(AStdio) ? AStdio : [AStdio, Out, Out];
  const Child = spawn(AProgram, AArgs, { env: { ...process.env, ...AEnv }, stdio: Stdio });
  Children.push(Child);
  return Child;
}

function run(AProgram, AArgs, AOptions = {}) {
  return new Promise((Resolve, Reject) => {
    execFile(AProgram, AArgs, { env: { ...process.env, DISPLAY: Display, ...AOptions.env },
      timeout: 10000, encoding: AOptions.encoding || 'utf8' },
    (AError, AStdout) => (AError ? Reject(AError) : Resolve(AStdout)));
  });
}

// Xvfb picks its own display number and writes it to descriptor 3.
function startXvfb(AScreen) {
  return new Promise((Resolve, Reject) => {
    const Child = start('/usr/bin/Xvfb', ['-displayfd', '3', '-noreset', '-nolisten', 'tcp',
      '-screen', '0', AScreen], {}, ['ignore', 'ignore', 'ignore', 'pipe']);
    let Text = '';
    Child.stdio[3].on('data', (AChunk) => {
      Text += AChunk.toString();
      if (Text.includes('\n')) Resolve(`:${Text.trim()}`);
    });
    Child.on('exit', () => Reject(new Error('Xvfb did not start')));
  });
}

function hostState() {
  try {
    return JSON.parse(fs.readFileSync(path.join(Work, 'host', 'state.json'), 'utf8'));
  } catch (_) {
    return {};
  }
}

function hostCommand(ACommand) {
  fs.appendFileSync(path.join(Work, 'host', 'commands'), `${ACommand}\n`);
}

async function screenshot(AName) {
  fs.mkdirSync(Artifacts, { recursive: true });
  await Page.screenshot({ path: path.join(Artifacts, `${AName}.png`) });
}

// The colour of a canvas pixel as "#rrggbb".
function canvasColour(AMonitor, AX, AY) {
  return Page.evaluate(([M, X, Y]) => {
    const Canvas = document.querySelector(`#screens canvas[data-monitor="${M}"]`);
    if (!Canvas || Canvas.width === 0) return null;
    const [R, G, B] = Canvas.getContext('2d').getImageData(X, Y, 1, 1).data;
    return `#${[R, G, B].map((V) => V.toString(16).padStart(2, '0')).join('')}`;
  }, [AMonitor, AX, AY]);
}

// JPEG moves colours a little; a close match is the same colour.
function near(AColour, AExpected, ATolerance = 12) {
  if (!AColour) return false;
  const Parse = (C) => [1, 3, 5].map((I) => parseInt(C.slice(I, I + 2), 16));
  const [A, B] = [Parse(AColour), Parse(AExpected)];
  return A.every((V, I) => Math.abs(V - B[I]) <= ATolerance);
}

async function waitColour(AMonitor, AX, AY, AExpected) {
  let Last = null;
  try {
    await waitUntil(async () => near((Last = await canvasColour(AMonitor, AX, AY)), AExpected),
      20000, `colour ${AExpected}`);
  } catch (AFault) {
    await screenshot(`falha-cor-${AMonitor}-${AX}-${AY}`).catch(() => {});
    throw new Error(`canvas ${AMonitor} at ${AX},${AY} is ${Last}, not ${AExpected}`);
  }
}

async function logIn(APassword) {
  await Page.goto(`http://127.0.0.1:${Relay.port}/`);
  const State = hostState();
  await Page.fill('#host-id', State.id);
  await Page.fill('#password', APassword);
  await Page.fill('#tech-name', 'Técnica Web');
  await Page.click('#connect');
}

async function logInAndWait() {
  await waitUntil(() => hostState().role === srNone, 20000, 'host out of session');
  await logIn(hostState().password);
  await Page.waitForSelector('#session:not([hidden])', { timeout: 20000 });
  await waitUntil(() => hostState().role === srHost, 20000, 'host in session');
}

// Clicks at pixel (AX, AY) of the shown picture of AMonitor.
async function clickPixel(AMonitor, AX, AY, AButton = 'left') {
  const Canvas = Page.locator(`#screens canvas[data-monitor="${AMonitor}"]`);
  const Box = await Canvas.boundingBox();
  const Size = await Canvas.evaluate((C) => [C.width, C.height]);
  await Page.mouse.click(Box.x + ((AX + 0.5) * Box.width) / Size[0],
    Box.y + ((AY + 0.5) * Box.height) / Size[1], { button: AButton });
}

before(async () => {
  fs.rmSync(Work, { recursive: true, force: true });
  fs.rmSync(Artifacts, { recursive: true, force: true });
  fs.mkdirSync(path.join(Work, 'host', 'run'), { recursive: true, mode: 0o700 });
  fs.chmodSync(path.join(Work, 'host', 'run'), 0o700);
  Display = await startXvfb('1280x720x24');
  // Two monitors side by side: the primary "Left" at (0, 0) is the host's monitor 0, "Right"
  // monitor 1.
  await run('/usr/bin/xrandr', ['--setmonitor', '*Left', '640/169x720/190+0+0', 'screen']);
  await run('/usr/bin/xrandr', ['--setmonitor', 'Right', '640/169x720/190+640+0', 'none']);
  await run('/usr/bin/xsetroot', ['-solid', '#336699']);

  const PortFile = path.join(Work, 'relay.port');
  const RelayChild = start(process.env.HALVORA_RELAY, ['--listen', '127.0.0.1:0', '--db', ':memory:',
    '--port-file', PortFile, '--static', process.env.WEBVIEWER_DIR, '--noop-interval', '0'],
  {}, 'ignore', path.join(Work, 'relay.log'));
  const Port = await waitUntil(() => {
    try {
      const Text = fs.readFileSync(PortFile, 'utf8');
      return Text.endsWith('\n') ? Number(Text) : 0;
    } catch (_) {
      return 0;
    }
  }, 10000, 'relay port');
  Relay = { port: Port, child: RelayChild };

  const HostDir = path.join(Work, 'host');
  fs.mkdirSync(path.join(HostDir, 'config', 'halvora'), { recursive: true });
  fs.writeFileSync(path.join(HostDir, 'config', 'halvora', 'halvora.ini'),
    `[Server]\nUrl=ws://127.0.0.1:${Port}/relay\n`);
  fs.writeFileSync(path.join(HostDir, 'commands'), '');
  Host = start(process.env.HALVORA_TESTHOST, [], {
    DISPLAY: Display, HOME: HostDir, XDG_CONFIG_HOME: path.join(HostDir, 'config'),
    XDG_RUNTIME_DIR: path.join(HostDir, 'run'), QT_QPA_PLATFORM: 'xcb',
    HALVORA_TEST_STATE: path.join(HostDir, 'state.json'),
    HALVORA_TEST_COMMANDS: path.join(HostDir, 'commands'),
  }, 'ignore', path.join(Work, 'host.log'));
  await waitUntil(() => hostState().status === Ready && /^[0-9]{9}$/.test(hostState().id || ''),
    30000, 'host registration');

  Browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-default-browser-check', '--disable-default-apps',
      '--disable-domain-reliability', '--no-pings', '--metrics-recording-only', '--disable-gpu',
      '--disable-quic'],
  });
  const Context = await Browser.newContext({ viewport: { width: 1000, height: 760 } });
  // Whatever the page's content policy blocks, as the event and as the console reports it.
  await Context.exposeBinding('halvoraCspViolation', (_, AText) => CspViolations.push(AText));
  await Context.addInitScript(() => document.addEventListener('securitypolicyviolation',
    (E) => window.halvoraCspViolation(`${E.violatedDirective} ${E.blockedURI}`)));
  Page = await Context.newPage();
  Page.on('pageerror', (AError) => console.log(`page error: ${AError.message}`));
  Page.on('console', (AMessage) => {
    if (/Content Security Policy/i.test(AMessage.text())) CspViolations.push(AMessage.text());
  });
});

after(async () => {
  if (Browser) await Browser.close().catch(() => {});
  if (Host && Host.exitCode === null) {
    hostCommand('quit');
    await Promise.race([new Promise((R) => Host.once('exit', R)), sleep(5000)]);
  }
  for (const Child of Children.reverse()) if (Child.exitCode === null) Child.kill('SIGTERM');
});

test('a wrong password is refused and the login stays open', async () => {
  await waitUntil(() => hostState().status === Ready, 20000, 'host ready');
  await logIn('senha-errada');
  await Page.waitForFunction(() => /Senha incorreta/.test(document.querySelector('#login-status').textContent),
    null, { timeout: 20000 });
  assert.equal(await Page.isVisible('#session'), false);
  assert.equal(await Page.isEnabled('#connect'), true);
  await waitUntil(() => /senha incorreta/.test(hostState().status), 10000, 'the host noting the refusal');
  await screenshot('senha-errada');
});

test('an unknown ID is refused by the relay', async () => {
  await Page.goto(`http://127.0.0.1:${Relay.port}/`);
  await Page.fill('#host-id', '000 000 001');
  await Page.fill('#password', 'qualquer');
  await Page.click('#connect');
  await Page.waitForFunction(() => /ID desconhecido ou computador desconectado/.test(document.querySelector('#login-status').textContent),
    null, { timeout: 10000 });
});

test('log-in shows the host screen, one acknowledgement per frame', async () => {
  await logInAndWait();
  assert.match(hostState().caption, /Técnica Web/);
  await waitColour(0, 620, 700, '#336699');
  await run('/usr/bin/xsetroot', ['-solid', '#cc8822']);
  await waitColour(0, 620, 700, '#cc8822');
  const Stats = await Page.evaluate(() => window.halvoraViewer.Stats);
  assert.equal(Stats.frameErrors, 0);
  assert.ok(Stats.framesDrawn >= 2);
  // Every frame that arrived so far is acknowledged once it is drawn.
  await waitUntil(() => Page.evaluate(() => {
    const S = window.halvoraViewer.Stats;
    return S.acks === S.framesDrawn + S.frameErrors;
  }), 5000, 'acks');
  await screenshot('tela-do-host');
});

test('a click and typed keys reach an X program on the host', async () => {
  const Log = path.join(Work, 'xev.log');
  const Xev = start('/usr/bin/xev', ['-geometry', '240x160+300+420', '-event', 'button',
    '-event', 'keyboard'], { DISPLAY: Display }, 'ignore', Log);
  // The window is white; wait until the picture shows it.
  await waitColour(0, 500, 560, '#ffffff');
  await clickPixel(0, 420, 500);
  await waitUntil(() => /ButtonPress event[\s\S]*button 1,[\s\S]*ButtonRelease event/.test(
    fs.readFileSync(Log, 'utf8')), 10000, 'the click in xev');
  // The pointer is over the window now, which has the keyboard focus without a window manager.
  await Page.focus('#screens');
  await Page.keyboard.type('ok1');
  await Page.keyboard.press('Enter');
  const Keys = await waitUntil(() => {
    const Text = fs.readFileSync(Log, 'utf8');
    const Pressed = [...Text.matchAll(/KeyPress event[\s\S]*?keysym 0x[0-9a-f]+, (\w+)\)/g)].map((M) => M[1]);
    return Pressed.join(' ').includes('o k 1 Return') ? Pressed : null;
  }, 10000, 'the keys in xev');
  assert.ok(Keys.length >= 4);
  // The wheel turned away from the user is X button 4; a right click is button 3.
  await Page.mouse.wheel(0, -100);
  await clickPixel(0, 420, 500, 'right');
  await waitUntil(() => {
    const Text = fs.readFileSync(Log, 'utf8');
    return /ButtonPress event[\s\S]*?button 4,/.test(Text) && /ButtonPress event[\s\S]*?button 3,/.test(Text);
  }, 10000, 'wheel and right button in xev');
  await screenshot('entrada');
  Xev.kill('SIGTERM');
});

test('the monitor switch shows the second monitor', async () => {
  await run('/usr/bin/xsetroot', ['-solid', '#336699']);
  const Box = start('/usr/bin/xmessage', ['-geometry', '560x600+680+60', '-bg', '#22aa44',
    '-fg', '#22aa44', ' '], { DISPLAY: Display });
  assert.equal(await Page.locator('#monitors button').count(), 2);
  await Page.click('#monitors button[data-monitor="1"]');
  await Page.waitForSelector('#screens canvas[data-monitor="1"]:not([hidden])', { timeout: 10000 });
  assert.equal(await Page.isHidden('#screens canvas[data-monitor="0"]'), true);
  // Monitor 1 starts at x 640 of the X screen: the box is at its (40..600, 60..660).
  await waitColour(1, 320, 360, '#22aa44');
  await waitColour(1, 620, 700, '#336699');
  await screenshot('monitor-2');
  Box.kill('SIGTERM');
  await Page.click('#monitors button[data-monitor="0"]');
  await Page.waitForSelector('#screens canvas[data-monitor="0"]:not([hidden])', { timeout: 10000 });
});

test('the block switch follows the state the host reports', async () => {
  await Page.click('#block');
  await Page.waitForSelector('#block[aria-pressed="true"]', { timeout: 10000 });
  assert.match(await Page.textContent('#block'), /Liberar/);
  await Page.click('#block');
  await Page.waitForSelector('#block[aria-pressed="false"]', { timeout: 10000 });
  await Page.click('#sas');
  assert.match(await Page.textContent('#session-status'), /Ctrl\+Alt\+Del enviado/);
  assert.equal(hostState().role, srHost);
});

test('clipboard text goes both ways', async () => {
  await Page.click('#clip-toggle');
  await Page.fill('#clip-out', 'olá do navegador');
  await Page.click('#clip-send');
  await waitUntil(async () => {
    const Text = await run('/usr/bin/xclip', ['-selection', 'clipboard', '-o']).catch(() => '');
    return Text === 'olá do navegador';
  }, 10000, 'the text on the host clipboard');

  const Input = path.join(Work, 'clip-in.txt');
  fs.writeFileSync(Input, 'texto do cliente ✓');
  start('/usr/bin/xclip', ['-selection', 'clipboard', '-i', Input], { DISPLAY: Display });
  await Page.waitForFunction(() => document.querySelector('#clip-in').value === 'texto do cliente ✓',
    null, { timeout: 10000 });
  await screenshot('area-de-transferencia');
});

test('a file dropped on the page lands on the host clipboard', async () => {
  const Transfer = await Page.evaluateHandle(() => {
    const Data = new DataTransfer();
    Data.items.add(new File(['conteúdo do arquivo\n'.repeat(5000)], 'relatório.txt', { type: 'text/plain' }));
    return Data;
  });
  await Page.dispatchEvent('#screens', 'drop', { dataTransfer: Transfer });
  const Uri = await waitUntil(async () => {
    const Text = await run('/usr/bin/xclip', ['-selection', 'clipboard', '-o', '-t', 'text/uri-list'])
      .catch(() => '');
    return /relat/.test(Text) ? Text : null;
  }, 15000, 'the file on the host clipboard');
  const File = decodeURIComponent(Uri.split(/\r?\n/)[0].replace(/^file:\/\//, ''));
  assert.equal(path.basename(File), 'relatório.txt');
  assert.equal(fs.readFileSync(File, 'utf8'), 'conteúdo do arquivo\n'.repeat(5000));
});

test('files chosen with the file picker land on the host clipboard', async () => {
  await Page.setInputFiles('#file-pick', [
    { name: 'a.txt', mimeType: 'text/plain', buffer: Buffer.from('primeiro') },
    { name: 'b.bin', mimeType: 'application/octet-stream', buffer: Buffer.alloc(70000, 7) },
  ]);
  const Uris = await waitUntil(async () => {
    const Text = await run('/usr/bin/xclip', ['-selection', 'clipboard', '-o', '-t', 'text/uri-list'])
      .catch(() => '');
    const List = Text.split(/\r?\n/).filter(Boolean);
    return List.length === 2 && /b\.bin$/.test(List[1]) ? List : null;
  }, 15000, 'the two files on the host clipboard');
  const Files = Uris.map((U) => decodeURIComponent(U.replace(/^file:\/\//, '')));
  assert.equal(fs.readFileSync(Files[0], 'utf8'), 'primeiro');
  assert.deepEqual(fs.readFileSync(Files[1]), Buffer.alloc(70000, 7));
});

test('files copied on the host are offered as downloads', async () => {
  const Folder = path.join(Work, 'host-files');
  fs.mkdirSync(Folder, { recursive: true });
  fs.writeFileSync(path.join(Folder, 'log.txt'), 'linha 1\nlinha 2\n');
  const List = path.join(Work, 'uri-list');
  fs.writeFileSync(List, `file://${path.join(Folder, 'log.txt')}\r\n`);
  start('/usr/bin/xclip', ['-selection', 'clipboard', '-t', 'text/uri-list', '-i', List],
    { DISPLAY: Display });
  const Link = Page.locator('#downloads a', { hasText: 'log.txt' });
  await Link.waitFor({ timeout: 15000 });
  // Saved as the technician would: by clicking the link.
  const [Download] = await Promise.all([Page.waitForEvent('download'), Link.click()]);
  assert.equal(Download.suggestedFilename(), 'log.txt');
  assert.equal(fs.readFileSync(await Download.path(), 'utf8'), 'linha 1\nlinha 2\n');
  await screenshot('arquivos-recebidos');
});

test('the session ended from the page, then a reconnect', async () => {
  await Page.click('#end');
  await Page.waitForSelector('#ended:not([hidden])');
  assert.match(await Page.textContent('#ended-text'), /Você encerrou a sessão/);
  await waitUntil(() => hostState().role === srNone, 10000, 'the host leaving the session');
  await screenshot('sessao-encerrada');
  // The password is the same while the host keeps it: reconnecting works at once.
  await Page.click('#reconnect');
  await Page.waitForSelector('#session:not([hidden])', { timeout: 20000 });
  await waitUntil(() => hostState().role === srHost, 10000, 'the host back in session');
  await waitColour(0, 620, 700, '#336699');
});

test('the session ended by the host', async () => {
  hostCommand('disconnect');
  await Page.waitForSelector('#ended:not([hidden])', { timeout: 10000 });
  assert.notEqual((await Page.textContent('#ended-text')).trim(), '');
  await screenshot('encerrada-pelo-host');
});

test('everything above ran under the content policy without a violation', async () => {
  const Answer = await fetch(`http://127.0.0.1:${Relay.port}/`);
  assert.match(Answer.headers.get('content-security-policy') || '', /frame-ancestors 'none'/);
  assert.equal(Answer.headers.get('x-content-type-options'), 'nosniff');
  assert.deepEqual(CspViolations, []);
});

test('a lost relay connection ends the session; reconnecting reports the missing server', async () => {
  await Page.click('#reconnect');
  await Page.waitForSelector('#session:not([hidden])', { timeout: 20000 });
  Relay.child.kill('SIGTERM');
  await Page.waitForSelector('#ended:not([hidden])', { timeout: 10000 });
  assert.match(await Page.textContent('#ended-text'), /conexão com o servidor foi perdida/);
  await Page.click('#reconnect');
  await Page.waitForFunction(() => /Não foi possível falar com o servidor/.test(
    document.querySelector('#login-status').textContent), null, { timeout: 10000 });
  await screenshot('servidor-fora');
});
