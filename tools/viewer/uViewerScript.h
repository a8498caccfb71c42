#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halvora::viewer {

enum class TScriptOp {
  soWait,        // wait MS
  soWaitFrames,  // wait-frames N [TIMEOUT_MS]
  soWaitFor,     // wait-for CMD [TIMEOUT_MS]
  soMouse,       // mouse MONITOR X Y ACTION [WHEEL]: raw packet, X and Y 0..65535
  soMove,        // move MONITOR X Y: pixel position on the monitor's picture
  soClick,       // click MONITOR X Y [left|right|middle]
  soWheel,       // wheel MONITOR X Y DELTA
  soKey,         // key VK down|up
  soType,        // type TEXT
  soMonitor,     // monitor I
  soBlock,       // block 0|1
  soClipText,    // clip-text TEXT
  soClipFiles,   // clip-files PATH...
  soSas,         // sas
  soSnapshot,    // snapshot
  soEnd,         // end
  soQuit,        // quit
};

// Wait time-out when a command names none.
inline constexpr int DefaultWaitMs = 10000;

// One parsed script line. Only the fields of its operation are set.
struct TScriptCommand {
  TScriptOp Op = TScriptOp::soQuit;
  int Line = 0;        // 1-based line number in the script
  std::string Source;  // the line as written, without surrounding blanks
  int Ms = 0;          // wait: duration; wait-frames and wait-for: time-out
  int Count = 0;       // wait-frames: frames; wait-for: message number; monitor; block flag
  int Monitor = 0, X = 0, Y = 0;
  int Action = 0;  // mouse: the action byte; click: the button's down action (1, 3 or 5)
  int Wheel = 0;
  std::vector<std::uint16_t> Keys;  // key: one code; type: one code per character
  bool Down = false;                // key
  std::string Text;                 // clip-text
  std::vector<std::string> Paths;   // clip-files
};

// Parses a whole script; false with AError ("linha N: ...") at the first bad line.
bool ParseScript(std::string_view AText, std::vector<TScriptCommand>& ACommands,
                 std::string& AError);

}  // namespace halvora::viewer
