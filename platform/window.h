// SPDX-License-Identifier: BSD-3-Clause
// The small windowing interface that the main window logic is written
// against. Backends: fltk/ (a real window) and headless/ (records every call
// and lets tests click, type and scroll without a display).
//
// Controls are addressed by their ID (0..99). Style numbers keep the meaning
// they have in the desktop format the definition files come from; the
// constants below name the bits a backend interprets.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nubo::platform {

enum class ControlClass { Static = 0, Button = 1, Edit = 2, ListBox = 3 };

namespace style {
inline constexpr uint32_t kChild = 0x40000000;
inline constexpr uint32_t kVisible = 0x10000000;
inline constexpr uint32_t kDisabled = 0x08000000;
inline constexpr uint32_t kBorder = 0x00800000;
inline constexpr uint32_t kGroup = 0x00020000;
inline constexpr uint32_t kTabStop = 0x00010000;
// Button kinds: the low four bits of a button's style.
inline constexpr uint32_t kButtonKindMask = 0x0F;
inline constexpr uint32_t kPushButton = 0;
inline constexpr uint32_t kDefPushButton = 1;
inline constexpr uint32_t kCheckBox = 2;
inline constexpr uint32_t kAutoCheckBox = 3;
inline constexpr uint32_t kRadioButton = 4;
inline constexpr uint32_t kGroupBox = 7;
inline constexpr uint32_t kAutoRadioButton = 9;
// Edit and static alignment: the low two bits.
inline constexpr uint32_t kAlignMask = 0x03;
inline constexpr uint32_t kAlignLeft = 0;
inline constexpr uint32_t kAlignCenter = 1;
inline constexpr uint32_t kAlignRight = 2;
inline constexpr uint32_t kEditAutoHScroll = 0x80;
}  // namespace style

// The client area a main window opens with, in character columns and lines
// (and the scroll bars): the canvas's width plus the two columns the
// horizontal range keeps in hand, so that nothing needs scrolling sideways,
// and enough lines for the controls. Cut to the screen where it is smaller.
inline constexpr int kDefaultClientColumns = 102;
inline constexpr int kDefaultClientLines = 32;

enum class ScrollBar { Horizontal, Vertical };

// Scroll requests; for the horizontal bar LineUp/LineDown mean line left/right
// and PageUp/PageDown page left/right.
enum class ScrollRequest { LineUp, LineDown, PageUp, PageDown, ThumbTrack, Top, Bottom, EndScroll };

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct TextMetrics {
  int averageCharWidth = 8;
  int height = 16;
  bool fixedPitch = false;
};

// The window messages, delivered on the UI thread.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void onCreate() = 0;
  virtual void onDestroy() = 0;
  virtual void onSize(int clientWidth, int clientHeight) = 0;
  virtual void onCommand(int controlId) = 0;
  virtual void onScroll(ScrollBar bar, ScrollRequest request, int thumbPosition) = 0;
  // The user asked to close the window (its close box, or the window
  // manager). True: the backend destroys the window now. False: the window
  // stays; the handler destroys it later if it still means to.
  virtual bool onClose() { return true; }
};

class Window {
 public:
  virtual ~Window() = default;

  // Creates the main window (with both scroll bars), delivers onCreate and
  // then onSize with the initial client size. False when no window could be made.
  virtual bool create(const std::string& title, WindowEvents& events) = 0;
  // Runs the message loop until quit(); returns the quit code.
  virtual int run() = 0;
  // Ends the message loop with `code`.
  virtual void quit(int code) = 0;
  // Delivers onDestroy (the settings are saved there) and closes the window.
  virtual void destroy() = 0;

  virtual TextMetrics textMetrics() = 0;

  // Child controls.
  virtual void createControl(int id, ControlClass cls, const std::string& caption, uint32_t style,
                             const Rect& rect) = 0;
  virtual bool hasControl(int id) const = 0;
  virtual void setText(int id, const std::string& text) = 0;
  virtual std::string getText(int id) = 0;
  virtual void setTextLimit(int id, int characters) = 0;
  // The lines of a list box, one item each, in the order added; a long line
  // can be scrolled to sideways.
  virtual void clearList(int id) = 0;
  virtual void addListLines(int id, const std::vector<std::string>& lines) = 0;
  virtual std::vector<std::string> listLines(int id) = 0;
  virtual bool getCheck(int id) = 0;
  virtual void setCheck(int id, bool checked) = 0;
  virtual void showPressed(int id, bool pressed) = 0;
  virtual void enable(int id, bool enabled) = 0;
  // Draws control `id` greyed, as a disabled one, while it still reports its
  // clicks (the logic refuses them in words); an edit field becomes
  // read-only. False: drawn and edited as before.
  virtual void showInactive(int id, bool inactive) = 0;
  // Takes the keyboard focus away from every control: keys typed next edit
  // nothing (Enter still reaches the default button).
  virtual void focusMainWindow() = 0;
  // Gives the keyboard focus to control `id` (nothing when it is missing,
  // hidden or disabled).
  virtual void focusControl(int id) = 0;

  // Moves every control by (dx, dy) pixels.
  virtual void scrollContent(int dx, int dy) = 0;
  virtual void setScrollRange(ScrollBar bar, int minimum, int maximum) = 0;
  virtual void setScrollPosition(ScrollBar bar, int position) = 0;

  // Modal boxes and dialogs; UI thread only. The Yes/No box shows its two
  // buttons captioned `yes` and `no`; Enter answers Yes, Escape No.
  virtual bool askYesNo(const std::string& text, const std::string& caption, const std::string& yes,
                        const std::string& no) = 0;
  virtual void showError(const std::string& caption, const std::string& text) = 0;
  virtual std::optional<std::string> openFileDialog(const std::string& initialPath) = 0;
  virtual std::optional<std::string> saveFileDialog(const std::string& initialPath) = 0;

  // Runs `work` on the UI thread and returns when it is done. Called from the
  // worker; from the UI thread itself it runs `work` at once.
  virtual void runOnUiThread(const std::function<void()>& work) = 0;
};

}  // namespace nubo::platform
