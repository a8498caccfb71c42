// The technician's console: logs in to the relay as a technician, pairs with a host by its
// ID, answers the password challenge, shows the host's monitors and sends input, clipboard
// text and files.

import { virtualKey } from './keys.js';
import {
  Cmd, MouseAction, ClipLimits, TClipReceiver, bytesText, field, fileData, fileEntry,
  filesBegin, filesEnd, keyPacket, message, mousePacket, parseFrame, scaleToWire, textBytes,
} from './protocol.js';
import { proofHash } from './sha256.js';

const $ = (AId) => document.getElementById(AId);

const Texts = {
  connecting: 'Conectando ao servidor…',
  searching: 'Procurando o computador…',
  checking: 'Verificando a senha…',
  wrongPassword: 'Senha incorreta. Confira a senha mostrada no computador do cliente.',
  noServer: 'Não foi possível falar com o servidor. Verifique sua conexão e tente de novo.',
  lost: 'A conexão com o servidor foi perdida.',
  endedByUs: 'Você encerrou a sessão.',
  endedByHost: 'O cliente encerrou a sessão.',
  waitingScreen: 'Aguardando a imagem da tela…',
  blocked: 'Teclado e mouse do cliente bloqueados.',
  unblocked: 'Teclado e mouse do cliente liberados.',
  blockOn: 'Bloquear teclado e mouse do cliente',
  blockOff: 'Liberar teclado e mouse do cliente',
  clipSent: 'Texto enviado para a área de transferência remota.',
  clipReceived: 'Texto recebido da área de transferência remota.',
  sasSent: 'Ctrl+Alt+Del enviado.',
  filesSending: (N) => `Enviando ${N} item(ns)…`,
  filesSent: (N) => `${N} item(ns) enviado(s) para a área de transferência remota.`,
  filesTooMany: 'Arquivos demais ou grandes demais para uma transferência (até 5000 itens e 200 MB).',
  filesReceived: (N) => `${N} arquivo(s) recebido(s). Clique para baixar.`,
  filesCancelled: 'O computador remoto cancelou o envio de arquivos.',
  monitor: (N) => `Monitor ${N}`,
  // Nine-digit IDs in three groups, as the host shows them.
  title: (Id) => `Computador ${/^[0-9]{9}$/.test(Id) ? Id.replace(/(\d{3})(?=\d)/g, '$1 ') : Id}`,
};

// The relay's answers to a pairing request, by code; other codes show the relay's own text
// (such as "Muitas tentativas. Aguarde N s e tente de novo.").
const PairTexts = {
  1: 'ID desconhecido ou computador desconectado. Confira o número informado pelo cliente.',
  2: 'O computador está desconectado.',
  3: 'O computador já está em atendimento.',
};

const State = {
  ws: null,
  phase: 'idle', // idle, login, admission, session, ended
  login: null, // {id, password, name}
  endedText: '',
  canvases: [],
  monitorCount: 0,
  selected: 0,
  frames: Promise.resolve(),
  blocked: false,
  receiver: new TClipReceiver(),
  nextTransferId: 0,
  heldKeys: new Set(),
  buttons: new Set(),
  downloads: [],
};

// For tests and diagnostics: counters a page script can read.
const Stats = { framesDrawn: 0, frameErrors: 0, acks: 0 };
window.halvoraViewer = { State, Stats };

function setStatus(AElement, AText, AError = false) {
  AElement.textContent = AText;
  AElement.classList.toggle('error', AError);
}

function showView(AName) {
  for (const Name of ['login', 'session', 'ended']) $(Name).hidden = Name !== AName;
  document.body.dataset.view = AName;
}

function send(ACmd, APayload) {
  if (!State.ws || State.ws.readyState !== WebSocket.OPEN) return false;
  State.ws.send(message(ACmd, APayload));
  return true;
}

function relayUrl() {
  const Scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return `${Scheme}//${location.host}/relay`;
}

// --- Connection and admission ---------------------------------------------------------

function connect(ALogin) {
  closeSocket();
  resetSession();
  State.login = ALogin;
  State.phase = 'login';
  State.endedText = '';
  $('connect').disabled = true;
  setStatus($('login-status'), Texts.connecting);
  showView('login');
  const Ws = new WebSocket(relayUrl());
  Ws.binaryType = 'arraybuffer';
  State.ws = Ws;
  Ws.onopen = () => send(Cmd.Hello, textBytes('2|A|'));
  Ws.onmessage = (AEvent) => {
    if (State.ws !== Ws) return;
    const Data = typeof AEvent.data === 'string' ? textBytes(AEvent.data) : new Uint8Array(AEvent.data);
    if (Data.length === 0) return;
    handle(Data[0], Data.subarray(1));
  };
  Ws.onclose = () => {
    if (State.ws !== Ws) return;
    State.ws = null;
    if (State.phase === 'login' || State.phase === 'admission') failLogin(Texts.noServer);
    else if (State.phase === 'session') endSession(Texts.lost);
  };
}

function closeSocket() {
  const Ws = State.ws;
  State.ws = null;
  if (Ws) Ws.close();
}

function failLogin(AText) {
  closeSocket();
  State.phase = 'idle';
  $('connect').disabled = false;
  setStatus($('login-status'), AText, true);
  showView('login');
}

function handle(ACmd, APayload) {
  switch (ACmd) {
    case Cmd.Welcome:
      if (State.phase === 'login') {
        setStatus($('login-status'), Texts.searching);
        const { id, name } = State.login;
        send(Cmd.ConnectHost, textBytes(`${id}|${name}|`));
      }
      break;
    case Cmd.Refused:
      failLogin(field(bytesText(APayload), 1) || Texts.noServer);
      break;
    case Cmd.RelayError:
      if (State.phase === 'login') failLogin(bytesText(APayload) || Texts.noServer);
      break;
    case Cmd.ConnectResult: {
      const Text = bytesText(APayload);
      const Code = field(Text, 0);
      if (Code !== '0') {
        failLogin(PairTexts[Code] || field(Text, 1) || Texts.noServer);
        break;
      }
      State.phase = 'admission';
      setStatus($('login-status'), Texts.checking);
      break;
    }
    case Cmd.Challenge:
      if (State.phase === 'admission') {
        const Nonce = bytesText(APayload);
        proofHash(Nonce, State.login.password).then((Hash) => send(Cmd.Proof, textBytes(Hash)));
      }
      break;
    case Cmd.AccessResult:
      if (State.phase !== 'admission') break;
      if (APayload.length === 1 && APayload[0] === 1) startSession();
      else failLogin(Texts.wrongPassword);
      break;
    case Cmd.SessionEnded:
      if (State.phase === 'admission') failLogin(bytesText(APayload) || Texts.endedByHost);
      else if (State.phase === 'session') endSession(bytesText(APayload) || Texts.endedByHost);
      break;
    case Cmd.MonitorInfo:
      if (APayload.length === 2) setMonitors(APayload[0], APayload[1]);
      break;
    case Cmd.Frame:
      queueFrame(APayload);
      break;
    case Cmd.BlockState:
      if (APayload.length === 1) setBlocked(APayload[0] === 1);
      break;
    case Cmd.ClipText:
      State.receiver.reset();
      receiveClipText(bytesText(APayload));
      break;
    case Cmd.ClipFilesBegin:
    case Cmd.ClipFileEntry:
    case Cmd.ClipFileData:
    case Cmd.ClipFilesEnd:
      receiveFiles(State.receiver.handle(ACmd, APayload));
      break;
    default:
      break;
  }
}

function startSession() {
  State.phase = 'session';
  $('connect').disabled = false;
  setStatus($('login-status'), '');
  $('session-title').textContent = Texts.title(State.login.id);
  setStatus($('session-status'), Texts.waitingScreen);
  setBlocked(false);
  showView('session');
  $('screens').focus();
}

function resetSession() {
  releaseInput();
  State.canvases = [];
  State.monitorCount = 0;
  State.selected = 0;
  State.frames = Promise.resolve();
  State.receiver.reset();
  $('screens').replaceChildren();
  $('monitors').replaceChildren();
  $('clip-in').value = '';
  for (const Url of State.downloads) URL.revokeObjectURL(Url);
  State.downloads = [];
  $('downloads').replaceChildren();
}

function endSession(AText) {
  if (State.phase !== 'session') return;
  releaseInput();
  State.phase = 'ended';
  State.endedText = AText;
  $('ended-text').textContent = AText;
  showView('ended');
  $('reconnect').focus();
}

// --- Screen -----------------------------------------------------------------------------

function setMonitors(ACount, ASelected) {
  if (ACount !== State.monitorCount) {
    State.monitorCount = ACount;
    const Screens = $('screens');
    while (State.canvases.length < ACount) {
      const Canvas = document.createElement('canvas');
      Canvas.width = 0;
      Canvas.height = 0;
      Canvas.dataset.monitor = String(State.canvases.length);
      attachPointer(Canvas);
      State.canvases.push(Canvas);
      Screens.append(Canvas);
    }
    for (const Canvas of State.canvases.splice(ACount)) Canvas.remove();
    const Buttons = $('monitors');
    Buttons.replaceChildren();
    if (ACount > 1)
      for (let I = 0; I < ACount; I++) {
        const Button = document.createElement('button');
        Button.type = 'button';
        Button.textContent = Texts.monitor(I + 1);
        Button.dataset.monitor = String(I);
        Button.addEventListener('click', () => selectMonitor(I));
        Buttons.append(Button);
      }
  }
  State.selected = Math.min(ASelected, ACount - 1);
  State.canvases.forEach((Canvas, I) => { Canvas.hidden = I !== State.selected; });
  for (const Button of $('monitors').children)
    Button.setAttribute('aria-current', String(Number(Button.dataset.monitor) === State.selected));
}

function selectMonitor(AIndex) {
  releaseButtons();
  send(Cmd.SelectMonitor, new Uint8Array([AIndex]));
}

// Frames are drawn one after the other; each is acknowledged once it is on its canvas, or
// once it was found broken, so the host never waits for a frame that cannot be shown.
function queueFrame(APayload) {
  const Ws = State.ws;
  State.frames = State.frames.then(async () => {
    if (State.ws !== Ws) return; // from a connection that is gone
    try {
      await drawFrame(APayload);
      Stats.framesDrawn++;
    } catch (AFault) {
      Stats.frameErrors++;
      console.warn('Frame com erro:', AFault.message);
    }
    if (State.ws === Ws && send(Cmd.FrameAck)) Stats.acks++;
  });
}

async function drawFrame(APayload) {
  const Frame = parseFrame(APayload);
  if (Frame.monitor >= State.monitorCount)
    throw new Error(`monitor ${Frame.monitor} fora dos ${State.monitorCount} anunciados`);
  // All tiles are decoded first, so a frame is drawn in one go.
  const Results = await Promise.allSettled(Frame.tiles.map(
    (Tile) => createImageBitmap(new Blob([Tile.jpeg], { type: 'image/jpeg' }))));
  const Canvas = State.canvases[Frame.monitor];
  if (!Canvas) return;
  if (Canvas.width !== Frame.width || Canvas.height !== Frame.height) {
    Canvas.width = Frame.width;
    Canvas.height = Frame.height;
    const Context = Canvas.getContext('2d');
    Context.fillStyle = '#000';
    Context.fillRect(0, 0, Frame.width, Frame.height);
  }
  const Context = Canvas.getContext('2d');
  let Fault = null;
  Results.forEach((Result, I) => {
    const Tile = Frame.tiles[I];
    if (Result.status !== 'fulfilled') {
      Fault = Fault || new Error(`tile ${I}: JPEG inválido`);
      return;
    }
    const Bitmap = Result.value;
    if (Bitmap.width === Tile.width && Bitmap.height === Tile.height)
      Context.drawImage(Bitmap, Tile.x, Tile.y);
    else
      Fault = Fault || new Error(`tile ${I}: JPEG de ${Bitmap.width}x${Bitmap.height}`);
    Bitmap.close();
  });
  if (Frame.monitor === State.selected && $('session-status').textContent === Texts.waitingScreen)
    setStatus($('session-status'), '');
  if (Fault) throw Fault;
}

// --- Pointer and keyboard -------------------------------------------------------------------

const ButtonActions = [
  [MouseAction.LeftDown, MouseAction.LeftUp],
  [MouseAction.MiddleDown, MouseAction.MiddleUp],
  [MouseAction.RightDown, MouseAction.RightUp],
];

function pointerPosition(ACanvas, AEvent) {
  const Rect = ACanvas.getBoundingClientRect();
  if (Rect.width === 0 || Rect.height === 0 || ACanvas.width === 0) return null;
  const Px = ((AEvent.clientX - Rect.left) / Rect.width) * ACanvas.width;
  const Py = ((AEvent.clientY - Rect.top) / Rect.height) * ACanvas.height;
  return [scaleToWire(Px, ACanvas.width), scaleToWire(Py, ACanvas.height)];
}

function sendMouse(ACanvas, AEvent, AAction, AWheel = 0) {
  if (State.phase !== 'session') return;
  const Position = pointerPosition(ACanvas, AEvent);
  if (!Position) return;
  send(Cmd.Mouse, mousePacket(Number(ACanvas.dataset.monitor), Position[0], Position[1], AAction, AWheel));
}

function attachPointer(ACanvas) {
  ACanvas.addEventListener('mousemove', (E) => sendMouse(ACanvas, E, MouseAction.Move));
  ACanvas.addEventListener('mousedown', (E) => {
    const Actions = ButtonActions[E.button];
    E.preventDefault();
    $('screens').focus();
    if (!Actions) return;
    State.buttons.add(E.button);
    ACanvas.lastEvent = E;
    sendMouse(ACanvas, E, Actions[0]);
  });
  ACanvas.addEventListener('mouseup', (E) => {
    const Actions = ButtonActions[E.button];
    E.preventDefault();
    if (!Actions || !State.buttons.delete(E.button)) return;
    sendMouse(ACanvas, E, Actions[1]);
  });
  ACanvas.addEventListener('wheel', (E) => {
    E.preventDefault();
    if (E.deltaY === 0) return;
    // Away from the user is a negative deltaY in the browser and a positive amount on the host.
    sendMouse(ACanvas, E, MouseAction.Wheel, E.deltaY < 0 ? 120 : -120);
  }, { passive: false });
  ACanvas.addEventListener('contextmenu', (E) => E.preventDefault());
}

// Buttons still held on the host are released where the pointer last was.
function releaseButtons() {
  const Canvas = State.canvases[State.selected];
  for (const Button of State.buttons) {
    if (Canvas && Canvas.lastEvent) sendMouse(Canvas, Canvas.lastEvent, ButtonActions[Button][1]);
  }
  State.buttons.clear();
}

function releaseInput() {
  for (const Key of State.heldKeys) send(Cmd.Key, keyPacket(Key, false));
  State.heldKeys.clear();
  releaseButtons();
}

function isTyping(ATarget) {
  return ATarget instanceof HTMLInputElement || ATarget instanceof HTMLTextAreaElement;
}

function onKey(AEvent, ADown) {
  if (State.phase !== 'session' || isTyping(AEvent.target)) return;
  const Key = virtualKey(AEvent.code);
  if (!Key) return;
  // Every mapped key goes to the host only, shortcuts included (Ctrl+W, F5, Alt+Tab where the
  // browser lets it through).
  AEvent.preventDefault();
  if (ADown) State.heldKeys.add(Key);
  else if (!State.heldKeys.delete(Key)) return;
  send(Cmd.Key, keyPacket(Key, ADown));
}

function setBlocked(ABlocked) {
  const Changed = State.blocked !== ABlocked;
  State.blocked = ABlocked;
  const Button = $('block');
  Button.setAttribute('aria-pressed', String(ABlocked));
  Button.textContent = ABlocked ? Texts.blockOff : Texts.blockOn;
  if (Changed && State.phase === 'session')
    setStatus($('session-status'), ABlocked ? Texts.blocked : Texts.unblocked);
}

// --- Clipboard text -----------------------------------------------------------------------

function sendClipText(AText) {
  if (State.phase !== 'session') return;
  State.receiver.reset();
  send(Cmd.ClipText, textBytes(AText));
  setStatus($('session-status'), Texts.clipSent);
}

function receiveClipText(AText) {
  $('clip-in').value = AText;
  setStatus($('session-status'), Texts.clipReceived);
  // Writing the local clipboard needs a secure context and, in most browsers, focus.
  if (navigator.clipboard && navigator.clipboard.writeText)
    navigator.clipboard.writeText(AText).catch(() => {});
}

// --- Files ----------------------------------------------------------------------------------

async function readEntries(AReader) {
  const All = [];
  for (;;) {
    const Batch = await new Promise((Resolve, Reject) => AReader.readEntries(Resolve, Reject));
    if (Batch.length === 0) return All;
    All.push(...Batch);
  }
}

// The dropped items as transfer entries: folders before their content, names joined with "\".
async function collectDropped(ADataTransfer) {
  const List = [];
  const Walk = async (AEntry, AName) => {
    if (List.length >= ClipLimits.Entries) throw new Error(Texts.filesTooMany);
    if (AEntry.isDirectory) {
      List.push({ name: AName, dir: true });
      const Children = await readEntries(AEntry.createReader());
      Children.sort((A, B) => (A.name < B.name ? -1 : A.name > B.name ? 1 : 0));
      for (const Child of Children) await Walk(Child, `${AName}\\${Child.name}`);
    } else {
      const File = await new Promise((Resolve, Reject) => AEntry.file(Resolve, Reject));
      List.push({ name: AName, dir: false, file: File });
    }
  };
  const Items = Array.from(ADataTransfer.items || []).filter((Item) => Item.kind === 'file');
  const Entries = Items.map((Item) => (Item.webkitGetAsEntry ? Item.webkitGetAsEntry() : null));
  if (Entries.length > 0 && Entries.every(Boolean)) {
    for (const Entry of Entries) await Walk(Entry, Entry.name);
  } else {
    for (const File of Array.from(ADataTransfer.files || []))
      List.push({ name: File.name, dir: false, file: File });
  }
  return List;
}

async function waitForBuffer(AWs) {
  while (AWs.readyState === WebSocket.OPEN && AWs.bufferedAmount > 4 * ClipLimits.Chunk * 16)
    await new Promise((Resolve) => setTimeout(Resolve, 20));
}

async function sendFiles(AList) {
  const Total = AList.reduce((Sum, Entry) => Sum + (Entry.dir ? 0 : Entry.file.size), 0);
  if (AList.length === 0) return;
  if (AList.length > ClipLimits.Entries || Total > ClipLimits.Bytes) {
    setStatus($('session-status'), Texts.filesTooMany, true);
    return;
  }
  const Ws = State.ws;
  const Id = ++State.nextTransferId;
  setStatus($('session-status'), Texts.filesSending(AList.length));
  send(Cmd.ClipFilesBegin, filesBegin(Id, AList.length, Total));
  let Ok = true;
  for (const Entry of AList) {
    if (State.ws !== Ws) return;
    if (Entry.dir) {
      send(Cmd.ClipFileEntry, fileEntry(Id, 0, true, Entry.name));
      continue;
    }
    let Bytes;
    try {
      Bytes = new Uint8Array(await Entry.file.arrayBuffer());
    } catch (_) {
      continue; // unreadable: left out, still counted in the header
    }
    send(Cmd.ClipFileEntry, fileEntry(Id, Bytes.length, false, Entry.name));
    for (let Pos = 0; Pos < Bytes.length; Pos += ClipLimits.Chunk) {
      await waitForBuffer(Ws);
      if (State.ws !== Ws) return;
      Ok = send(Cmd.ClipFileData, fileData(Id, Bytes.subarray(Pos, Pos + ClipLimits.Chunk))) && Ok;
    }
  }
  send(Cmd.ClipFilesEnd, filesEnd(Id, Ok));
  setStatus($('session-status'), Texts.filesSent(AList.length));
}

function receiveFiles(ANote) {
  if (!ANote) return;
  if (ANote.error) {
    setStatus($('session-status'), ANote.error, true);
    return;
  }
  if (ANote.cancelled) {
    setStatus($('session-status'), Texts.filesCancelled);
    return;
  }
  const List = $('downloads');
  for (const File of ANote.done) {
    const Url = URL.createObjectURL(File.blob);
    State.downloads.push(Url);
    const Link = document.createElement('a');
    Link.href = Url;
    Link.download = File.name.replaceAll('/', '_');
    Link.textContent = File.name;
    const Item = document.createElement('li');
    Item.append(Link);
    List.append(Item);
  }
  $('clip-panel').hidden = false;
  setStatus($('session-status'), Texts.filesReceived(ANote.done.length));
}

// --- Page wiring ---------------------------------------------------------------------------

function readLogin() {
  return {
    id: $('host-id').value.replace(/\s+/g, ''),
    password: $('password').value.trim(),
    name: $('tech-name').value.trim().replaceAll('|', ' ') || 'Técnico',
  };
}

function wire() {
  $('login-form').addEventListener('submit', (E) => {
    E.preventDefault();
    const Login = readLogin();
    if (Login.id && Login.password) connect(Login);
  });
  $('end').addEventListener('click', () => {
    releaseInput();
    send(Cmd.End);
    endSession(Texts.endedByUs);
  });
  $('reconnect').addEventListener('click', () => {
    if (State.login) connect(State.login);
  });
  $('new-login').addEventListener('click', () => {
    closeSocket();
    State.phase = 'idle';
    $('password').value = '';
    setStatus($('login-status'), '');
    showView('login');
    $('host-id').focus();
  });
  $('block').addEventListener('click', () => send(Cmd.BlockInput, new Uint8Array([State.blocked ? 0 : 1])));
  $('sas').addEventListener('click', () => {
    send(Cmd.SecureAttention);
    setStatus($('session-status'), Texts.sasSent);
    $('screens').focus();
  });
  $('clip-toggle').addEventListener('click', () => { $('clip-panel').hidden = !$('clip-panel').hidden; });
  $('clip-send').addEventListener('click', () => sendClipText($('clip-out').value));
  $('file-pick').addEventListener('change', (E) => {
    const List = Array.from(E.target.files, (File) => ({ name: File.name, dir: false, file: File }));
    E.target.value = '';
    sendFiles(List).catch((AFault) => setStatus($('session-status'), AFault.message, true));
  });
  $('clip-copy').addEventListener('click', () => {
    const Text = $('clip-in').value;
    if (navigator.clipboard && navigator.clipboard.writeText)
      navigator.clipboard.writeText(Text).catch(() => copyBySelection());
    else copyBySelection();
  });

  // Pasting while the remote screen has the focus sends the local clipboard's text.
  document.addEventListener('paste', (E) => {
    if (State.phase !== 'session' || isTyping(E.target)) return;
    const Text = E.clipboardData ? E.clipboardData.getData('text/plain') : '';
    E.preventDefault();
    if (Text) sendClipText(Text);
  });

  window.addEventListener('keydown', (E) => onKey(E, true));
  window.addEventListener('keyup', (E) => onKey(E, false));
  window.addEventListener('blur', () => { if (State.phase === 'session') releaseInput(); });
  document.addEventListener('mousemove', (E) => {
    const Canvas = State.canvases[State.selected];
    if (Canvas && E.target === Canvas) Canvas.lastEvent = E;
  });
  // A button released outside the picture is released on the host too.
  window.addEventListener('mouseup', (E) => {
    if (State.buttons.has(E.button) && !(E.target instanceof HTMLCanvasElement)) releaseButtons();
  });

  let DragDepth = 0;
  window.addEventListener('dragenter', (E) => {
    if (State.phase !== 'session') return;
    E.preventDefault();
    DragDepth++;
    $('drop-hint').hidden = false;
  });
  window.addEventListener('dragleave', () => {
    if (--DragDepth <= 0) {
      DragDepth = 0;
      $('drop-hint').hidden = true;
    }
  });
  window.addEventListener('dragover', (E) => E.preventDefault());
  window.addEventListener('drop', (E) => {
    E.preventDefault();
    DragDepth = 0;
    $('drop-hint').hidden = true;
    if (State.phase !== 'session' || !E.dataTransfer) return;
    collectDropped(E.dataTransfer)
      .then(sendFiles)
      .catch((AFault) => setStatus($('session-status'), AFault.message, true));
  });

  showView('login');
  const Params = new URLSearchParams(location.search);
  if (Params.get('id')) $('host-id').value = Params.get('id');
  $(Params.get('id') ? 'password' : 'host-id').focus();
}

function copyBySelection() {
  const Field = $('clip-in');
  Field.select();
  document.execCommand('copy');
}

wire();
