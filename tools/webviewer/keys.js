// KeyboardEvent.code (the physical key, independent of the layout) to Windows virtual-key
// codes, which is what the host injects. Unknown codes give 0 and are not sent.

const Table = {
  Backspace: 0x08, Tab: 0x09, Enter: 0x0d, NumpadEnter: 0x0d,
  ShiftLeft: 0xa0, ShiftRight: 0xa1, ControlLeft: 0xa2, ControlRight: 0xa3,
  AltLeft: 0xa4, AltRight: 0xa5, Pause: 0x13, CapsLock: 0x14, Escape: 0x1b, Space: 0x20,
  PageUp: 0x21, PageDown: 0x22, End: 0x23, Home: 0x24,
  ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28,
  PrintScreen: 0x2c, Insert: 0x2d, Delete: 0x2e,
  MetaLeft: 0x5b, MetaRight: 0x5c, OSLeft: 0x5b, OSRight: 0x5c, ContextMenu: 0x5d,
  NumpadMultiply: 0x6a, NumpadAdd: 0x6b, NumpadSubtract: 0x6d, NumpadDecimal: 0x6e,
  NumpadDivide: 0x6f, NumpadComma: 0x6c, NumLock: 0x90, ScrollLock: 0x91,
  Semicolon: 0xba, Equal: 0xbb, Comma: 0xbc, Minus: 0xbd, Period: 0xbe, Slash: 0xbf,
  Backquote: 0xc0, BracketLeft: 0xdb, Backslash: 0xdc, BracketRight: 0xdd, Quote: 0xde,
  IntlBackslash: 0xe2, IntlRo: 0xc1,
};

export function virtualKey(ACode) {
  if (Object.prototype.hasOwnProperty.call(Table, ACode)) return Table[ACode];
  let Match = /^Key([A-Z])$/.exec(ACode);
  if (Match) return Match[1].charCodeAt(0);
  Match = /^Digit([0-9])$/.exec(ACode);
  if (Match) return 0x30 + Number(Match[1]);
  Match = /^Numpad([0-9])$/.exec(ACode);
  if (Match) return 0x60 + Number(Match[1]);
  Match = /^F([1-9]|1[0-9]|2[0-4])$/.exec(ACode);
  if (Match) return 0x6f + Number(Match[1]);
  return 0;
}
